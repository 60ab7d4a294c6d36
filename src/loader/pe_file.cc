// PE: the headers Windows' loader checks before it maps a DLL, and the
// names in its import directory. Delay-load imports are not read: they are
// loaded when a function is first called.
#include <cstring>

#include "loader/pe_file.h"

namespace {

enum { image_executable = 0x0002, image_dll = 0x2000, magic_pe32 = 0x10B, magic_pe32_plus = 0x20B };
enum { max_sections = 96, max_imports = 4096, name_capacity = 4096 };

library_arch pe_arch(unsigned machine) {
  switch (machine) {
    case 0x014C: return arch_x86;
    case 0x8664: return arch_x64;
    case 0xAA64: return arch_arm64;
    case 0x01C0:
    case 0x01C2:
    case 0x01C4: return arch_arm;
  }
  return arch_other;
}

struct section {
  uint32_t address, size, offset, file_size;
};

// The file offset of a relative virtual address, and where the file's part
// of its section ends; false when no section holds it in the file.
bool file_offset(const section* sections, unsigned count, uint32_t address, uint64_t* offset, uint64_t* end) {
  for (unsigned i = 0; i < count; ++i) {
    const section& s = sections[i];
    if (address < s.address || address - s.address >= s.file_size) continue;
    *offset = uint64_t{s.offset} + (address - s.address);
    *end = uint64_t{s.offset} + s.file_size;
    return true;
  }
  return false;
}

}  // namespace

void read_pe_object(binary_file* file, object_table* table, loaded_object* object) {
  object->state = object_not_a_library;
  file->big_endian = false;
  unsigned char dos[64], nt[24 + 112 + 16];
  if (!read_bytes(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return;
  const uint64_t nt_at = get32(*file, dos + 0x3C);
  if (!read_bytes(file, nt_at, nt, 24) || memcmp(nt, "PE\0\0", 4) != 0) return;
  const unsigned characteristics = get16(*file, nt + 22);
  if ((characteristics & image_dll) == 0 || (characteristics & image_executable) == 0) return;
  const unsigned machine = get16(*file, nt + 4);
  const unsigned section_count = get16(*file, nt + 6);
  const unsigned optional_size = get16(*file, nt + 20);
  // The optional header must be the one of the machine's word size.
  object->arch = pe_arch(machine);
  const bool wide = object->arch == arch_x64 || object->arch == arch_arm64;
  const size_t fixed = wide ? 112 : 96;
  if (optional_size < fixed || section_count > max_sections || !read_bytes(file, nt_at + 24, nt + 24, fixed) ||
      (object->arch != arch_other && get16(*file, nt + 24) != (wide ? magic_pe32_plus : magic_pe32)))
    return;
  section sections[max_sections];
  for (unsigned i = 0; i < section_count; ++i) {
    unsigned char header[40];
    if (!read_bytes(file, nt_at + 24 + optional_size + i * 40, header, sizeof header)) return;
    section& s = sections[i];
    s = {get32(*file, header + 12), get32(*file, header + 8), get32(*file, header + 20), get32(*file, header + 16)};
    // Every section's data must be in the file.
    if (s.file_size > 0 && (s.offset > file->size || s.file_size > file->size - s.offset)) return;
  }
  if (object->arch != program_arch()) {
    object->state = object_foreign;
    return;
  }

  // The import directory, the second data directory, when there is one.
  uint32_t imports = 0;
  const uint32_t directories = get32(*file, nt + 24 + fixed - 4);
  if (directories > 1 && optional_size >= fixed + 16 && read_bytes(file, nt_at + 24 + fixed + 8, nt, 4))
    imports = get32(*file, nt);
  uint64_t at = 0, end = 0;
  if (imports && !file_offset(sections, section_count, imports, &at, &end)) return;
  object->needed_count = 0;
  for (unsigned i = 0; imports && i < max_imports; ++i, at += 20) {
    unsigned char descriptor[20];
    uint64_t name_at, name_end;
    char name[name_capacity];
    if (!read_bytes(file, at, descriptor, sizeof descriptor)) return;
    const uint32_t name_address = get32(*file, descriptor + 12);
    if (name_address == 0 || get32(*file, descriptor + 16) == 0) break;
    if (!file_offset(sections, section_count, name_address, &name_at, &name_end) ||
        !read_text(file, name_at, name_end, name, sizeof name))
      return;
    const uint32_t added = add_name(table, name, strlen(name));
    if (!added) return;
    if (object->needed_count++ == 0) object->needed = added;
  }
  object->state = object_loadable;
}

// ELF: the checks glibc's loader makes before it maps a library, and the
// parts of the dynamic section that say what it needs and where to look.
#include <cstdlib>
#include <cstring>

#include "loader/elf_file.h"

namespace {

enum { class_32 = 1, class_64 = 2, little_endian = 1, big_endian = 2 };
enum { osabi_sysv = 0, osabi_gnu = 3, type_exec = 2, type_dyn = 3 };
enum { segment_load = 1, segment_dynamic = 2 };
enum : uint64_t {
  tag_needed = 1,
  tag_strtab = 5,
  tag_strsz = 10,
  tag_soname = 14,
  tag_rpath = 15,
  tag_runpath = 29,
  tag_flags_1 = 0x6ffffffb,
  tag_verdef = 0x6ffffffc,
  tag_verneed = 0x6ffffffe,
};
enum : uint64_t { flag_no_default_folders = 0x800, flag_no_open = 0x40, flag_pie = 0x08000000 };
// Bounds on what a hostile file can make the reader hold.
enum { max_headers = 1024, max_loads = 64, max_dynamic = 1 << 20, max_needed = 1024, max_versions = 4096 };
enum { name_capacity = 4096 };

library_arch elf_arch(int elf_class, unsigned machine) {
  const bool wide = elf_class == class_64;
  switch (machine) {
    case 3: return wide ? arch_other : arch_x86;
    case 62: return wide ? arch_x64 : arch_other;
    case 183: return wide ? arch_arm64 : arch_other;
    case 40: return wide ? arch_other : arch_arm;
  }
  return arch_other;
}

// The machine this program's loader takes.
unsigned own_machine() {
  switch (program_arch()) {
    case arch_x86: return 3;
    case arch_x64: return 62;
    case arch_arm64: return 183;
    case arch_arm: return 40;
    case arch_other: break;
  }
  return 0;
}

struct load_segment {
  uint64_t address, offset, size;
};

struct elf_reader {
  binary_file* file;
  object_table* table;
  bool wide;
  load_segment loads[max_loads];
  int load_count;
  uint64_t strings, strings_end;  // the string table's file offsets
};

uint64_t word(const elf_reader& elf, const unsigned char* at) {
  return elf.wide ? get64(*elf.file, at) : get32(*elf.file, at);
}

// The file offset of an address of the loaded image, and where the file's
// part of its segment ends; false when no segment holds it in the file.
bool file_offset(const elf_reader& elf, uint64_t address, uint64_t* offset, uint64_t* end) {
  for (int i = 0; i < elf.load_count; ++i) {
    const load_segment& load = elf.loads[i];
    if (address < load.address || address - load.address >= load.size) continue;
    *offset = load.offset + (address - load.address);
    *end = load.offset + load.size;
    return true;
  }
  return false;
}

// A string of the dynamic string table, added to the pool; 0 when it does
// not end inside the table.
uint32_t dynamic_string(elf_reader* elf, uint64_t index) {
  char text[name_capacity];
  if (index >= elf->strings_end - elf->strings ||
      !read_text(elf->file, elf->strings + index, elf->strings_end, text, sizeof text))
    return 0;
  const size_t length = strlen(text);
  // The pool's offset 0 is the empty string: an empty name gets its own.
  return add_name(elf->table, text, length);
}

// Reads the symbol versions the file requires (DT_VERNEED): each entry
// names a file and the versions it must define. glibc follows the links
// until one is 0, whatever the counts say.
bool read_requirements(elf_reader* elf, uint64_t address, loaded_object* object) {
  uint64_t at, end;
  if (!file_offset(*elf, address, &at, &end)) return false;
  object->first_need = elf->table->version_count;
  for (int entries = 0; entries < max_versions; ++entries) {
    unsigned char entry[16];
    if (!read_bytes(elf->file, at, entry, sizeof entry) || get16(*elf->file, entry) != 1) return false;
    const uint32_t file = dynamic_string(elf, get32(*elf->file, entry + 4));
    if (!file) return false;
    uint64_t aux_at = at + get32(*elf->file, entry + 8);
    for (;;) {
      unsigned char aux[16];
      if (!read_bytes(elf->file, aux_at, aux, sizeof aux) || object->need_count >= max_versions) return false;
      const uint32_t name = dynamic_string(elf, get32(*elf->file, aux + 8));
      const bool weak = (get16(*elf->file, aux + 4) & 2) != 0;
      if (!name || !add_symbol_version(elf->table, {file, name, get32(*elf->file, aux), weak})) return false;
      ++object->need_count;
      const uint32_t next = get32(*elf->file, aux + 12);
      if (next == 0) break;
      aux_at += next;
    }
    const uint32_t next = get32(*elf->file, entry + 12);
    if (next == 0) return true;
    at += next;
  }
  return false;
}

// Reads the symbol versions the file defines (DT_VERDEF), each named by
// its first auxiliary entry.
bool read_definitions(elf_reader* elf, uint64_t address, loaded_object* object) {
  uint64_t at, end;
  if (!file_offset(*elf, address, &at, &end)) return false;
  object->first_definition = elf->table->version_count;
  for (int entries = 0; entries < max_versions; ++entries) {
    unsigned char entry[20], aux[8];
    if (!read_bytes(elf->file, at, entry, sizeof entry) || get16(*elf->file, entry) != 1 ||
        !read_bytes(elf->file, at + get32(*elf->file, entry + 12), aux, sizeof aux))
      return false;
    const uint32_t name = dynamic_string(elf, get32(*elf->file, aux));
    if (!name || !add_symbol_version(elf->table, {0, name, get32(*elf->file, entry + 8), false})) return false;
    ++object->definition_count;
    const uint32_t next = get32(*elf->file, entry + 16);
    if (next == 0) return true;
    at += next;
  }
  return false;
}

// The dynamic section: what the file needs, where it looks, its flags.
bool read_dynamic(elf_reader* elf, uint64_t address, uint64_t size, loaded_object* object) {
  uint64_t at, end;
  const size_t entry_size = elf->wide ? 16 : 8;
  if (size == 0 || !file_offset(*elf, address, &at, &end)) return false;
  if (size > end - at) size = end - at;
  if (size > max_dynamic) size = max_dynamic;
  unsigned char* dynamic = static_cast<unsigned char*>(malloc(size));
  bool ok = dynamic && read_bytes(elf->file, at, dynamic, size);
  uint64_t needed[max_needed];
  size_t needed_count = 0;
  uint64_t strings = 0, strings_size = 0, soname = 0, rpath = 0, runpath = 0, flags = 0;
  uint64_t requirements = 0, definitions = 0;
  bool has_soname = false, has_rpath = false, closed = false;
  object->has_runpath = false;
  for (size_t i = 0; ok && !closed && i + entry_size <= size; i += entry_size) {
    const uint64_t tag = word(*elf, dynamic + i);
    const uint64_t value = word(*elf, dynamic + i + entry_size / 2);
    switch (elf->wide ? tag : static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(tag)))) {
      case 0: closed = true; break;
      case tag_needed:
        if (needed_count == max_needed) ok = false;
        else needed[needed_count++] = value;
        break;
      case tag_strtab: strings = value; break;
      case tag_strsz: strings_size = value; break;
      case tag_soname: soname = value, has_soname = true; break;
      case tag_rpath: rpath = value, has_rpath = true; break;
      case tag_runpath: runpath = value, object->has_runpath = true; break;
      case tag_flags_1: flags = value; break;
      case tag_verneed: requirements = value; break;
      case tag_verdef: definitions = value; break;
      default: break;
    }
  }
  free(dynamic);
  // dlopen refuses position-independent programs and objects that ask
  // not to be opened.
  if (!ok || !closed || (flags & (flag_pie | flag_no_open)) != 0) return false;
  object->no_default_folders = (flags & flag_no_default_folders) != 0;
  if (strings_size > 0) {
    uint64_t end_of_segment;
    if (!file_offset(*elf, strings, &elf->strings, &end_of_segment)) return false;
    elf->strings_end = strings_size < end_of_segment - elf->strings ? elf->strings + strings_size : end_of_segment;
  }
  if ((has_soname && !(object->soname = dynamic_string(elf, soname))) ||
      (has_rpath && !(object->rpath = dynamic_string(elf, rpath))) ||
      (object->has_runpath && !(object->runpath = dynamic_string(elf, runpath))))
    return false;
  if ((requirements && !read_requirements(elf, requirements, object)) ||
      (definitions && !read_definitions(elf, definitions, object)))
    return false;
  // The names last, so that they lie side by side in the pool.
  for (size_t i = 0; i < needed_count; ++i) {
    const uint32_t name = dynamic_string(elf, needed[i]);
    if (!name) return false;
    if (i == 0) object->needed = name;
  }
  object->needed_count = static_cast<uint32_t>(needed_count);
  return true;
}

}  // namespace

void read_elf_object(binary_file* file, object_table* table, loaded_object* object) {
  elf_reader elf{};
  elf.file = file;
  elf.table = table;
  const int own_class = sizeof(void*) == 8 ? class_64 : class_32;
  elf.wide = own_class == class_64;
  const size_t header_size = elf.wide ? 64 : 52;
  const size_t entry_size = elf.wide ? 56 : 32;
  unsigned char header[64];
  object->state = object_not_a_library;
  // The identification first, in the order glibc tests it: another class
  // is passed over, every other difference refused.
  if (!read_bytes(file, 0, header, header_size) || memcmp(header, "\177ELF", 4) != 0) return;
  const int elf_class = header[4], byte_order = header[5];
  file->big_endian = byte_order == big_endian;
  // Every architecture this tool is built for is little-endian.
  object->arch = file->big_endian ? arch_other : elf_arch(elf_class, get16(*file, header + 18));
  if (elf_class != own_class) {
    if (elf_class == class_32 || elf_class == class_64) object->state = object_other_arch;
    return;
  }
  if (byte_order != little_endian) {
    if (byte_order == big_endian) object->state = object_foreign;
    return;
  }
  const int osabi = header[7], abi_version = header[8];
  static const unsigned char padding[7] = {};
  if (header[6] != 1 || (osabi != osabi_sysv && osabi != osabi_gnu) ||
      (abi_version != 0 && !(osabi == osabi_gnu && abi_version < 4)) || memcmp(header + 9, padding, 7) != 0 ||
      get32(*file, header + 20) != 1)
    return;
  if (get16(*file, header + 18) != own_machine()) {
    object->state = object_other_arch;
    return;
  }
  const unsigned type = get16(*file, header + 16);
  const uint64_t headers_at = word(elf, header + (elf.wide ? 32 : 28));
  const unsigned header_count = get16(*file, header + (elf.wide ? 56 : 44));
  if (type != type_dyn || get16(*file, header + (elf.wide ? 54 : 42)) != entry_size || header_count > max_headers)
    return;

  unsigned char* headers = static_cast<unsigned char*>(malloc(header_count * entry_size + 1));
  bool ok = headers && read_bytes(file, headers_at, headers, header_count * entry_size);
  uint64_t dynamic_address = 0, dynamic_size = 0;
  bool has_dynamic = false;
  for (unsigned i = 0; ok && i < header_count; ++i) {
    const unsigned char* at = headers + i * entry_size;
    const uint32_t kind = get32(*file, at);
    const uint64_t offset = word(elf, at + (elf.wide ? 8 : 4));
    const uint64_t address = word(elf, at + (elf.wide ? 16 : 8));
    const uint64_t size = word(elf, at + (elf.wide ? 32 : 16));
    if (kind == segment_load) {
      // A segment past the end of the file would be mapped, and touching
      // it kills the process.
      if (elf.load_count == max_loads || offset > file->size || size > file->size - offset) ok = false;
      else elf.loads[elf.load_count++] = {address, offset, size};
    } else if (kind == segment_dynamic) {
      dynamic_address = address, dynamic_size = size, has_dynamic = true;
    }
  }
  free(headers);
  if (!ok || elf.load_count == 0 || !has_dynamic || !read_dynamic(&elf, dynamic_address, dynamic_size, object)) return;
  object->state = object_loadable;
}

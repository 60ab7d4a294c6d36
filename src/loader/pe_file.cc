// PE: the headers Windows' loader checks before it maps a DLL, and the
// names in its import directory, read as the loader reads them: through
// the image as it lays the file out in memory. Delay-load imports are not
// read: they are loaded when a function is first called.
#include "loader/pe_file.h"

#include <cstring>

namespace {

enum { image_executable = 0x0002, image_dll = 0x2000, magic_pe32 = 0x10B, magic_pe32_plus = 0x20B };
enum { max_sections = 96 };
// Past these, a DLL is not followed.
enum : uint32_t { max_imports = 4096, max_thunks = 1 << 16 };
enum : size_t { name_capacity = 4096 };
enum : uint32_t { page_mask = 0xFFF, sector_mask = 0x1FF };

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

uint64_t round_to_page(uint64_t size) { return (size + page_mask) & ~uint64_t{page_mask}; }

// A section as the loader maps it: file bytes from file_start for
// file_size bytes of memory at address, zeros after them.
struct section {
  uint32_t address;
  uint64_t file_start, file_size;
};

// A DLL as the loader lays it out in memory.
struct pe_image {
  binary_file* file;
  section sections[max_sections];
  unsigned section_count;
  uint64_t header_size;  // the headers' bytes mapped from the file
  uint64_t image_size;   // memory past it is not mapped
  bool flat;             // mapped as the file is, byte for byte
};

// Reads length bytes at a relative virtual address: file bytes where a
// section (the last mapped) or the headers hold them, zeros elsewhere in
// the image; false where any of them lies outside it, which the loader
// would die of.
bool read_image(const pe_image& image, uint64_t address, void* out, size_t length) {
  if (address > image.image_size || length > image.image_size - address) return false;
  unsigned char* bytes = static_cast<unsigned char*>(out);
  for (size_t done = 0; done < length;) {
    const uint64_t at = address + done;
    uint64_t from = 0, run = 0;  // file offset and length of file bytes here
    uint64_t zeros = length - done;
    if (image.flat) {
      from = at, run = length - done;
    } else {
      bool mapped = false;
      for (unsigned i = image.section_count; i-- > 0 && !mapped;) {
        const section& s = image.sections[i];
        if (at < s.address || at - s.address >= s.file_size) continue;
        from = s.file_start + (at - s.address), run = s.file_size - (at - s.address), mapped = true;
      }
      if (!mapped && at < image.header_size) from = at, run = image.header_size - at, mapped = true;
      // Zeros up to the next bytes a section or the headers map.
      for (unsigned i = 0; i < image.section_count && !mapped; ++i)
        if (image.sections[i].address > at && image.sections[i].file_size && image.sections[i].address - at < zeros)
          zeros = image.sections[i].address - at;
    }
    if (run) {
      // Bytes past the file's end read as zeros.
      const size_t take = static_cast<size_t>(run < length - done ? run : length - done);
      const size_t in_file = from >= image.file->size
                                 ? 0
                                 : static_cast<size_t>(take < image.file->size - from ? take : image.file->size - from);
      if (in_file && !read_bytes(image.file, from, bytes + done, in_file)) return false;
      memset(bytes + done + in_file, 0, take - in_file);
      done += take;
    } else {
      memset(bytes + done, 0, static_cast<size_t>(zeros));
      done += static_cast<size_t>(zeros);
    }
  }
  return true;
}

// The string at a relative virtual address, into text (cap bytes): false
// where the loader would read past the image, or it is longer than text.
bool read_image_text(const pe_image& image, uint64_t address, char* text, size_t cap) {
  for (size_t length = 0; length < cap; ++length) {
    if (!read_image(image, address + length, text + length, 1)) return false;
    if (text[length] == '\0') return true;
  }
  text[cap - 1] = '\0';
  return false;
}

// Lays the sections out as Wine's loader does (which reads file positions
// rounded to sectors of 512 bytes, whatever the file's alignment says):
// false where it refuses the image (error 193).
bool lay_out(pe_image* image, const unsigned char* optional, const unsigned char* headers, unsigned count) {
  const binary_file& file = *image->file;
  const uint32_t section_alignment = get32(file, optional + 32), file_alignment = get32(file, optional + 36);
  image->flat = (section_alignment & page_mask) != 0;
  if (image->flat && round_to_page(file.size) < image->image_size) image->image_size = round_to_page(file.size);
  image->section_count = count;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned char* header = headers + i * 40;
    const uint32_t virtual_size = get32(file, header + 8), address = get32(file, header + 12);
    const uint32_t raw_size = get32(file, header + 16), raw_at = get32(file, header + 20);
    if (image->flat) {
      if (file_alignment != section_alignment || address != raw_at) return false;
      continue;
    }
    const uint64_t map_size = round_to_page(virtual_size ? virtual_size : raw_size);
    uint64_t file_size = (uint64_t{raw_size} + (raw_at & sector_mask) + sector_mask) & ~uint64_t{sector_mask};
    if (file_size > map_size) file_size = map_size;
    const uint64_t end = address + round_to_page(map_size + (address & page_mask));
    if (address > image->image_size || end > image->image_size) return false;
    section& s = image->sections[i];
    s = {address, raw_at & ~uint64_t{sector_mask}, raw_at ? file_size : 0};
    const uint64_t file_end = (file.size + sector_mask) & ~uint64_t{sector_mask};
    if (s.file_size && (raw_at >= file.size || s.file_start + s.file_size > file_end)) return false;
  }
  return true;
}

// Walks one DLL's list of imported functions (thunks) to its end, as the
// loader does once the DLL is found: false where it would read past the
// image, too_large past the limit.
bool read_thunks(const pe_image& image, uint64_t list, bool wide, bool* too_large) {
  const size_t size = wide ? 8 : 4;
  for (uint32_t i = 0;; ++i) {
    unsigned char thunk[8];
    if (i == max_thunks) return !(*too_large = true);
    if (!read_image(image, list + uint64_t{i} * size, thunk, size)) return false;
    const uint64_t value = wide ? get64(*image.file, thunk) : get32(*image.file, thunk);
    if (value == 0) return true;
    const bool by_ordinal = (value >> (size * 8 - 1)) != 0;
    char name[name_capacity];
    // A name: its hint, then its text.
    if (!by_ordinal && !read_image_text(image, static_cast<uint32_t>(value) + uint64_t{2}, name, sizeof name))
      return false;
  }
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
  unsigned char headers[max_sections * 40];
  const uint64_t sections_at = nt_at + 24 + optional_size;
  if (!read_bytes(file, sections_at, headers, section_count * 40)) return;
  pe_image image{};
  image.file = file;
  image.image_size = round_to_page(get32(*file, nt + 24 + 56));
  // The headers reach at least to the end of the section table.
  const uint64_t header_end = sections_at + section_count * 40;
  const uint64_t declared_headers = get32(*file, nt + 24 + 60);
  image.header_size = declared_headers > header_end ? declared_headers : header_end;
  if (image.header_size > file->size) image.header_size = file->size;
  // The headers with all the data directories lie in the pages mapped.
  if (header_end > image.image_size || nt_at + 24 + fixed + 128 > round_to_page(image.header_size) ||
      !lay_out(&image, nt + 24, headers, section_count))
    return;
  if (object->arch != program_arch()) {
    object->state = object_foreign;
    return;
  }

  // The import directory, the second data directory, when there is one.
  uint32_t imports = 0;
  const uint32_t directories = get32(*file, nt + 24 + fixed - 4);
  if (directories > 1 && optional_size >= fixed + 16 && read_bytes(file, nt_at + 24 + fixed + 8, nt, 4))
    imports = get32(*file, nt);
  object->needed_count = 0;
  bool too_large = false;
  for (uint64_t at = imports, count = 0; imports; at += 20, ++count) {
    unsigned char descriptor[20];
    char name[name_capacity];
    if (!read_image(image, at, descriptor, sizeof descriptor)) return;
    // The list ends at a descriptor without a name or a table of addresses.
    const uint32_t name_address = get32(*file, descriptor + 12), addresses = get32(*file, descriptor + 16);
    if (name_address == 0 || addresses == 0) break;
    if (count == max_imports) {
      object->state = object_not_followed;
      return;
    }
    const uint32_t lookups = get32(*file, descriptor) ? get32(*file, descriptor) : addresses;
    unsigned char first[8] = {};
    if (!read_image(image, lookups, first, wide ? 8 : 4) || !read_image_text(image, name_address, name, sizeof name))
      return;
    // A DLL none of whose functions is imported is not loaded.
    if ((wide ? get64(*file, first) : get32(*file, first)) == 0) continue;
    if (!read_thunks(image, lookups, wide, &too_large)) {
      if (too_large) object->state = object_not_followed;
      return;
    }
    const uint32_t added = add_name(table, name, strlen(name));
    if (!added) {
      object->state = object_not_followed;
      return;
    }
    if (object->needed_count++ == 0) object->needed = added;
  }
  object->state = object_loadable;
}

// PE: the headers Windows' loader checks before it maps a DLL, the names
// in its import directory and the functions it imports of each, and its
// exports, read as the loader reads them: through the image as it lays
// the file out in memory. Delay-load imports are not read: they are loaded
// when a function is first called.
#include "loader/pe_file.h"

#include <cstdlib>
#include <cstring>

#include "loader/formats.h"

namespace {

enum { max_sections = 96 };
// Past these, a DLL is not followed.
enum : uint32_t { max_imports = 4096, max_thunks = 1 << 16, max_exports = 1 << 16, max_strings = 64 << 20 };
enum : size_t { name_capacity = 4096 };
enum : uint32_t { page_mask = 0xFFF, sector_mask = 0x1FF };

library_arch pe_arch(unsigned machine) {
  switch (machine) {
    case image_file_machine_i386: return arch_x86;
    case image_file_machine_amd64: return arch_x64;
    case image_file_machine_arm64: return arch_arm64;
    case image_file_machine_arm:
    case image_file_machine_thumb:
    case image_file_machine_armnt: return arch_arm;
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
  for (size_t length = 0; length < cap;) {
    // In pieces, byte by byte where a piece would leave the image.
    size_t piece = cap - length < 64 ? cap - length : 64;
    if (!read_image(image, address + length, text + length, piece)) {
      piece = 1;
      if (!read_image(image, address + length, text + length, 1)) return false;
    }
    if (memchr(text + length, '\0', piece)) return true;
    length += piece;
  }
  text[cap - 1] = '\0';
  return false;
}

// What binding will need of the DLL, gathered as it is read: the functions
// it imports, and the strings they and its exports name.
struct gathered {
  pe_import* imports;
  uint32_t import_count, import_size;
  uint32_t* first_import;
  uint32_t dll_count, dll_size;
  char* strings;
  uint32_t strings_used, strings_size;
  bool too_large;
};

// Keeps a string: its offset in the strings (never 0), or 0 past the
// limit.
uint32_t keep_text(gathered* g, const char* text) {
  const uint32_t length = static_cast<uint32_t>(strlen(text)) + 1;
  if (g->strings_used == 0) g->strings_used = 1;
  while (g->strings_used + length > g->strings_size) {
    if (!make_room(&g->strings, g->strings_size, &g->strings_size, max_strings)) return !(g->too_large = true);
  }
  memcpy(g->strings + g->strings_used, text, length);
  g->strings_used += length;
  return g->strings_used - length;
}

// Lays the sections out as Wine's loader does (which reads file positions
// rounded to sectors of 512 bytes, whatever the file's alignment says):
// false where it refuses the image (error 193).
bool lay_out(pe_image* image, const unsigned char* optional, const unsigned char* headers, unsigned count) {
  const binary_file& file = *image->file;
  const uint32_t section_alignment = get32(file, optional + optional_section_alignment);
  const uint32_t file_alignment = get32(file, optional + optional_file_alignment);
  image->flat = (section_alignment & page_mask) != 0;
  if (image->flat && round_to_page(file.size) < image->image_size) image->image_size = round_to_page(file.size);
  image->section_count = count;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned char* header = headers + i * image_sizeof_section_header;
    const uint32_t virtual_size = get32(file, header + section_virtual_size);
    const uint32_t address = get32(file, header + section_virtual_address);
    const uint32_t raw_size = get32(file, header + section_size_of_raw_data);
    const uint32_t raw_at = get32(file, header + section_pointer_to_raw_data);
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
// loader does once the DLL is found, keeping each: false where it would
// read past the image, too_large past the limit.
bool read_thunks(const pe_image& image, uint64_t list, bool wide, gathered* g) {
  const size_t size = wide ? 8 : 4;
  if (!make_room(&g->first_import, g->dll_count + 1, &g->dll_size, max_imports + 2)) return !(g->too_large = true);
  g->first_import[g->dll_count++] = g->import_count;
  for (uint32_t i = 0;; ++i) {
    unsigned char thunk[8];
    if (i == max_thunks) return !(g->too_large = true);
    if (!read_image(image, list + uint64_t{i} * size, thunk, size)) return false;
    const uint64_t value = wide ? get64(*image.file, thunk) : get32(*image.file, thunk);
    if (value == 0) break;
    const bool by_ordinal = (value & (wide ? image_ordinal_flag64 : image_ordinal_flag32)) != 0;
    pe_import import{0, static_cast<uint16_t>(value & 0xFFFF), by_ordinal};
    // A name: its hint, then its text.
    if (!by_ordinal) {
      char name[name_capacity];
      unsigned char hint[2];
      const uint64_t at = static_cast<uint32_t>(value);
      if (!read_image(image, at, hint, 2) || !read_image_text(image, at + 2, name, sizeof name)) return false;
      import.hint_or_ordinal = get16(*image.file, hint);
      if (!(import.name = keep_text(g, name))) return false;
    }
    if (!make_room(&g->imports, g->import_count, &g->import_size, max_imports * max_thunks))
      return !(g->too_large = true);
    g->imports[g->import_count++] = import;
  }
  g->first_import[g->dll_count] = g->import_count;
  return true;
}

// Reads the export directory (at its address, of its size) and keeps the
// DLL's symbols: false where the loader would read past the image, too
// large past the limits.
bool read_exports(const pe_image& image, uint32_t address, uint32_t size, gathered* g, object_table* table,
                  loaded_object* object) {
  const binary_file& file = *image.file;
  unsigned char directory[image_sizeof_export_directory] = {};
  if (address && !read_image(image, address, directory, sizeof directory)) return false;
  const uint32_t base = get32(file, directory + export_base);
  const uint32_t functions = get32(file, directory + export_number_of_functions);
  const uint32_t names = get32(file, directory + export_number_of_names);
  if (functions > max_exports || names > max_exports) return !(g->too_large = true);
  const size_t bytes = functions * 8 + names * 6 + g->import_count * sizeof(pe_import) + (g->dll_count + 1) * 4;
  unsigned char* block = static_cast<unsigned char*>(malloc(bytes + 16));
  if (!block) return !(g->too_large = true);
  uint32_t* function_at = reinterpret_cast<uint32_t*>(block);
  uint32_t* forwarders = function_at + functions;
  uint32_t* name_at = forwarders + functions;
  pe_import* imports = reinterpret_cast<pe_import*>(name_at + names);
  uint32_t* first_import = reinterpret_cast<uint32_t*>(imports + g->import_count);
  uint16_t* name_functions = reinterpret_cast<uint16_t*>(first_import + g->dll_count + 1);
  bool ok = read_image(image, get32(file, directory + export_address_of_functions), function_at, functions * 4) &&
            read_image(image, get32(file, directory + export_address_of_names), name_at, names * 4) &&
            read_image(image, get32(file, directory + export_address_of_name_ordinals), name_functions, names * 2);
  char text[name_capacity];
  for (uint32_t i = 0; ok && i < functions; ++i) {
    function_at[i] = get32(file, reinterpret_cast<unsigned char*>(function_at + i));
    // An address within the directory is a forwarder: "DLL.NAME" or "DLL.#ORDINAL".
    const bool forwards = function_at[i] >= address && function_at[i] - address < size;
    forwarders[i] = 0;
    if (forwards)
      ok = read_image_text(image, function_at[i], text, sizeof text) && (forwarders[i] = keep_text(g, text));
  }
  for (uint32_t i = 0; ok && i < names; ++i) {
    name_functions[i] = get16(file, reinterpret_cast<unsigned char*>(name_functions + i));
    ok = read_image_text(image, get32(file, reinterpret_cast<unsigned char*>(name_at + i)), text, sizeof text) &&
         (name_at[i] = keep_text(g, text));
  }
  if (g->import_count) memcpy(imports, g->imports, g->import_count * sizeof(pe_import));
  if (g->dll_count) memcpy(first_import, g->first_import, (g->dll_count + 1) * 4);
  else first_import[0] = 0;
  // The strings last, at the block's end.
  unsigned char* whole = ok ? static_cast<unsigned char*>(realloc(block, bytes + 16 + g->strings_used)) : nullptr;
  if (!whole) {
    free(block);
    return false;
  }
  if (g->strings_used) memcpy(whole + bytes + 16, g->strings, g->strings_used);
  const auto at = [&](size_t offset) { return whole + offset; };
  const pe_exports exports = {base,
                              functions,
                              names,
                              reinterpret_cast<const uint32_t*>(at(0)),
                              reinterpret_cast<const uint32_t*>(at(functions * 4)),
                              reinterpret_cast<const uint32_t*>(at(functions * 8)),
                              reinterpret_cast<const uint16_t*>(at(bytes - names * 2)),
                              reinterpret_cast<const pe_import*>(at(functions * 8 + names * 4)),
                              g->import_count,
                              reinterpret_cast<const uint32_t*>(at(bytes - names * 2 - (g->dll_count + 1) * 4)),
                              g->dll_count,
                              reinterpret_cast<const char*>(at(bytes + 16))};
  object_symbols kept{};
  kept.block = whole, kept.pe = exports;
  object->symbols = add_symbols(table, kept);
  if (object->symbols < 0) free(whole);
  object->symbols_unread = object->symbols < 0;
  return true;
}

// The import directory: the DLLs it names and the functions it imports of
// each; false where the loader would refuse the DLL (too_large: past the
// limits).
bool read_imports(const pe_image& image, uint32_t imports, bool wide, gathered* g, object_table* table,
                  loaded_object* object) {
  const binary_file* file = image.file;
  for (uint64_t at = imports, count = 0; imports; at += image_sizeof_import_descriptor, ++count) {
    unsigned char descriptor[image_sizeof_import_descriptor];
    char name[name_capacity];
    if (!read_image(image, at, descriptor, sizeof descriptor)) return false;
    // The list ends at a descriptor without a name or a table of addresses.
    const uint32_t name_address = get32(*file, descriptor + import_name);
    const uint32_t addresses = get32(*file, descriptor + import_first_thunk);
    if (name_address == 0 || addresses == 0) break;
    if (count == max_imports) return !(g->too_large = true);
    const uint32_t original = get32(*file, descriptor + import_original_first_thunk);
    const uint32_t lookups = original ? original : addresses;
    unsigned char first[8] = {};
    if (!read_image(image, lookups, first, wide ? 8 : 4) || !read_image_text(image, name_address, name, sizeof name))
      return false;
    // A DLL none of whose functions is imported is not loaded.
    if ((wide ? get64(*file, first) : get32(*file, first)) == 0) continue;
    if (!read_thunks(image, lookups, wide, g)) return false;
    const uint32_t added = add_name(table, name, strlen(name));
    if (!added) return !(g->too_large = true);
    if (object->needed_count++ == 0) object->needed = added;
  }
  return true;
}

}  // namespace

void read_pe_object(binary_file* file, object_table* table, loaded_object* object) {
  object->state = object_not_a_library;
  file->big_endian = false;
  // Its import and export tables are read whole: through a mapping, where
  // one can be made, rather than a read each.
  if (file->mappable && platform_map_file(file->file, 0, file->size, &file->mapping)) file->bytes = file->mapping.bytes;
  // The DOS header, the signature and the file header, the optional
  // header as far as its data directories.
  unsigned char dos[64], nt[nt_optional_header], optional[optional64_data_directory];
  if (!read_bytes(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return;
  const uint64_t nt_at = get32(*file, dos + e_lfanew);
  if (!read_bytes(file, nt_at, nt, sizeof nt) || memcmp(nt, "PE\0\0", 4) != 0) return;
  const unsigned characteristics = get16(*file, nt + nt_characteristics);
  if ((characteristics & image_file_dll) == 0 || (characteristics & image_file_executable_image) == 0) return;
  const unsigned machine = get16(*file, nt + nt_machine);
  const unsigned section_count = get16(*file, nt + nt_number_of_sections);
  const unsigned optional_size = get16(*file, nt + nt_size_of_optional_header);
  // The optional header must be the one of the machine's word size.
  object->arch = pe_arch(machine);
  const bool wide = object->arch == arch_x64 || object->arch == arch_arm64;
  const size_t fixed = wide ? optional64_data_directory : optional32_data_directory;
  const uint64_t optional_at = nt_at + nt_optional_header;
  if (optional_size < fixed || section_count > max_sections || !read_bytes(file, optional_at, optional, fixed) ||
      (object->arch != arch_other && get16(*file, optional + optional_magic) !=
                                         (wide ? image_nt_optional_hdr64_magic : image_nt_optional_hdr32_magic)))
    return;
  unsigned char headers[max_sections][image_sizeof_section_header];
  const uint64_t sections_at = optional_at + optional_size;
  if (!read_bytes(file, sections_at, headers, section_count * image_sizeof_section_header)) return;
  pe_image image{};
  image.file = file;
  image.image_size = round_to_page(get32(*file, optional + optional_size_of_image));
  // The headers reach at least to the end of the section table.
  const uint64_t header_end = sections_at + section_count * image_sizeof_section_header;
  const uint64_t declared_headers = get32(*file, optional + optional_size_of_headers);
  image.header_size = declared_headers > header_end ? declared_headers : header_end;
  if (image.header_size > file->size) image.header_size = file->size;
  // The headers with all the data directories lie in the pages mapped.
  const uint64_t directories_at = optional_at + fixed;
  if (header_end > image.image_size ||
      directories_at + image_numberof_directory_entries * image_sizeof_data_directory >
          round_to_page(image.header_size) ||
      !lay_out(&image, optional, headers[0], section_count))
    return;
  if (object->arch != program_arch()) {
    object->state = object_foreign;
    return;
  }

  // The export directory and the import directory, where there are.
  uint32_t exports = 0, exports_size = 0, imports = 0;
  const uint32_t directories =
      get32(*file, optional + (wide ? optional64_number_of_rva_and_sizes : optional32_number_of_rva_and_sizes));
  unsigned char entry[image_sizeof_data_directory];
  const uint64_t export_at = image_directory_entry_export * image_sizeof_data_directory;
  const uint64_t import_at = image_directory_entry_import * image_sizeof_data_directory;
  if (directories > image_directory_entry_export && optional_size >= fixed + export_at + sizeof entry &&
      read_bytes(file, directories_at + export_at, entry, sizeof entry))
    exports = get32(*file, entry), exports_size = get32(*file, entry + 4);
  if (directories > image_directory_entry_import && optional_size >= fixed + import_at + sizeof entry &&
      read_bytes(file, directories_at + import_at, entry, 4))
    imports = get32(*file, entry);
  object->needed_count = 0;
  gathered g{};
  const bool read = read_imports(image, imports, wide, &g, table, object) &&
                    read_exports(image, exports, exports_size, &g, table, object);
  free(g.imports), free(g.first_import), free(g.strings);
  if (g.too_large) object->state = object_not_followed;
  else if (read) object->state = object_loadable;
}

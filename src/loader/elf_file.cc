// ELF: the checks glibc's loader makes of a file before and while it maps
// it, and the parts of its dynamic section that say what it needs and
// where to look. Everything past the headers is read as the loader sees
// it: through the file's loadable segments, zeros where a segment holds
// more in memory than in the file.
#include "loader/elf_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace {

enum { class_32 = 1, class_64 = 2, little_endian = 1, big_endian = 2 };
enum { osabi_sysv = 0, osabi_gnu = 3, type_exec = 2, type_dyn = 3 };
enum { segment_load = 1, segment_dynamic = 2, segment_executable = 1 };
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
// Bounds on what a hostile file can make the reader hold; past them, a
// file is not followed.
enum : uint64_t { max_dynamic = 1 << 20, max_needed = 4096, max_versions = 4096 };
enum : size_t { name_capacity = 4096, list_capacity = 65536 };

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
  uint64_t address, offset, file_size, memory_size;
  uint32_t flags;
};

// A file as the loader maps it.
struct elf_image {
  binary_file* file;
  object_table* table;
  bool wide;
  load_segment* loads;
  unsigned load_count;
  uint64_t strings;  // the address of the string table; 0: none
  bool failed;       // a read the loader would die of
  bool too_large;    // a limit reached
};

uint64_t word(const elf_image& elf, const unsigned char* at) {
  return elf.wide ? get64(*elf.file, at) : get32(*elf.file, at);
}

// The segment that maps an address; null when none does.
const load_segment* segment_at(const elf_image& elf, uint64_t address) {
  for (unsigned i = 0; i < elf.load_count; ++i)
    if (address >= elf.loads[i].address && address - elf.loads[i].address < elf.loads[i].memory_size)
      return &elf.loads[i];
  return nullptr;
}

// Reads length bytes at an address of the image, within one segment:
// false where they are not all mapped or cannot be read.
bool read_image(const elf_image& elf, uint64_t address, void* out, size_t length) {
  const load_segment* load = segment_at(elf, address);
  if (!load || length > load->memory_size - (address - load->address)) return false;
  const uint64_t into = address - load->address;
  const size_t from_file = into >= load->file_size
                               ? 0
                               : static_cast<size_t>(length < load->file_size - into ? length : load->file_size - into);
  memset(static_cast<unsigned char*>(out) + from_file, 0, length - from_file);
  return from_file == 0 || read_bytes(elf.file, load->offset + into, out, from_file);
}

// The string at an address of the image, into text (cap bytes). A string
// the loader would read past its mapping marks the image failed, one too
// long for text marks it too large.
bool read_image_text(elf_image* elf, uint64_t address, char* text, size_t cap) {
  const load_segment* load = segment_at(*elf, address);
  text[0] = '\0';
  if (!load) return !(elf->failed = true);
  const uint64_t into = address - load->address;
  if (into >= load->file_size) return true;  // zeros
  switch (read_text(elf->file, load->offset + into, load->offset + load->file_size, text, cap)) {
    case text_whole: return true;
    case text_at_limit:
      // Zeros follow where the segment holds more in memory than in the file.
      if (load->memory_size > load->file_size) return true;
      return !(elf->failed = true);
    case text_over_cap: return !(elf->too_large = true);
    case text_unread: break;
  }
  return !(elf->failed = true);
}

// A string of the string table, added to the pool (the empty one has an
// offset of its own); 0 when it cannot be read.
uint32_t dynamic_string(elf_image* elf, uint64_t index) {
  char text[name_capacity];
  if (!elf->strings || !read_image_text(elf, elf->strings + index, text, sizeof text)) {
    if (!elf->strings) elf->failed = true;
    return 0;
  }
  return add_name(elf->table, text, strlen(text));
}

// A folder list (RPATH, RUNPATH), kept with how it read: glibc reads one
// only when it searches.
uint32_t folder_list_string(elf_image* elf, uint64_t index, folder_list_state* read) {
  char* text = static_cast<char*>(malloc(list_capacity));
  elf_image probe = *elf;
  probe.failed = probe.too_large = false;
  const bool ok = text && elf->strings && read_image_text(&probe, elf->strings + index, text, list_capacity);
  *read = ok ? list_read : probe.too_large || !text ? list_too_long : list_unmapped;
  const uint32_t offset = ok ? add_name(elf->table, text, strlen(text)) : 0;
  free(text);
  return offset;
}

// Reads the symbol versions the file requires (DT_VERNEED): each entry
// names a file and the versions it must define. glibc follows the links
// until one is 0, whatever the counts say, and knows the first entry's
// version 1 alone. False when the tables would end the loader's check.
bool read_requirements(elf_image* elf, uint64_t address, loaded_object* object) {
  object->first_need = elf->table->version_count;
  for (uint64_t entries = 0;; ++entries) {
    unsigned char entry[16];
    if (entries == max_versions) return !(elf->too_large = true);
    if (!read_image(*elf, address, entry, sizeof entry) || (entries == 0 && get16(*elf->file, entry) != 1))
      return false;
    const uint32_t file = dynamic_string(elf, get32(*elf->file, entry + 4));
    if (!file) return false;
    uint64_t aux_at = address + get32(*elf->file, entry + 8);
    for (;;) {
      unsigned char aux[16];
      if (object->need_count >= max_versions) return !(elf->too_large = true);
      if (!read_image(*elf, aux_at, aux, sizeof aux)) return false;
      const uint32_t name = dynamic_string(elf, get32(*elf->file, aux + 8));
      const bool weak = (get16(*elf->file, aux + 4) & 2) != 0;
      if (!name) return false;
      if (!add_symbol_version(elf->table, {file, name, get32(*elf->file, aux), weak, false}))
        return !(elf->too_large = true);
      ++object->need_count;
      const uint32_t next = get32(*elf->file, aux + 12);
      if (next == 0) break;
      aux_at += next;
    }
    const uint32_t next = get32(*elf->file, entry + 12);
    if (next == 0) return true;
    address += next;
  }
}

// Reads the symbol versions the file defines (DT_VERDEF), each named by its
// first auxiliary entry. A record of a version glibc does not know is kept
// as such: only a check that reaches it fails. False when the tables would
// end the loader's check.
bool read_definitions(elf_image* elf, uint64_t address, loaded_object* object) {
  object->first_definition = elf->table->version_count;
  for (uint64_t entries = 0;; ++entries) {
    unsigned char entry[20], aux[8];
    if (entries == max_versions) return !(elf->too_large = true);
    if (!read_image(*elf, address, entry, sizeof entry) ||
        !read_image(*elf, address + get32(*elf->file, entry + 12), aux, sizeof aux))
      return false;
    const bool known = get16(*elf->file, entry) == 1;
    const uint32_t name = dynamic_string(elf, get32(*elf->file, aux));
    if (!name) return false;
    if (!add_symbol_version(elf->table, {0, name, get32(*elf->file, entry + 8), false, !known}))
      return !(elf->too_large = true);
    ++object->definition_count;
    const uint32_t next = get32(*elf->file, entry + 16);
    if (next == 0) return true;
    address += next;
  }
}

// The file offset of an address, where a segment holds it in the file;
// false where none does.
bool file_offset(const elf_image& elf, uint64_t address, uint64_t* offset) {
  const load_segment* load = segment_at(elf, address);
  if (!load || address - load->address >= load->file_size) return false;
  *offset = load->offset + (address - load->address);
  return true;
}

// Reads the tables the reader will need (strings, symbol versions) in one
// go: they lie together. Their sizes are hints here, never bounds.
void read_tables_ahead(const elf_image& elf, uint64_t strings_size, std::initializer_list<uint64_t> tables) {
  enum : uint64_t { slack = 1024, most = 1 << 20 };
  uint64_t low = UINT64_MAX, high = 0, offset;
  for (const uint64_t address : tables) {
    if (!address || !file_offset(elf, address, &offset)) continue;
    low = offset < low ? offset : low;
    const uint64_t end = offset + (address == elf.strings ? strings_size : 0) + slack;
    high = end > high ? end : high;
  }
  if (low < high && high - low <= most) read_ahead(elf.file, low, high - low);
}

// The dynamic section, read as glibc reads it: from its address up to
// DT_NULL, whatever its size says. What the file needs, where it looks, its
// flags; false when the loader would refuse or die of it.
bool read_dynamic(elf_image* elf, uint64_t address, loaded_object* object) {
  const size_t entry_size = elf->wide ? 16 : 8;
  uint64_t needed[max_needed];
  size_t needed_count = 0;
  uint64_t soname = 0, rpath = 0, runpath = 0, flags = 0, requirements = 0, definitions = 0, strings_size = 0;
  bool has_soname = false, has_rpath = false;
  object->has_runpath = false;
  // Read in blocks of entries, one by one where a block would reach past
  // the segment.
  unsigned char block[512];
  uint64_t block_start = 0, block_length = 0;
  for (uint64_t at = address;; at += entry_size) {
    if (at - address >= max_dynamic) return !(elf->too_large = true);
    if (at - block_start >= block_length) {
      block_start = at;
      block_length = read_image(*elf, at, block, sizeof block) ? sizeof block : entry_size;
      if (block_length == entry_size && !read_image(*elf, at, block, entry_size)) return false;
    }
    const unsigned char* entry = block + (at - block_start);
    const uint64_t raw = word(*elf, entry);
    const uint64_t tag = elf->wide ? raw : static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(raw)));
    const uint64_t value = word(*elf, entry + entry_size / 2);
    if (tag == 0) break;
    switch (tag) {
      case tag_needed:
        if (needed_count == max_needed) return !(elf->too_large = true);
        needed[needed_count++] = value;
        break;
      case tag_strtab: elf->strings = value; break;
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
  // dlopen refuses position-independent programs and objects that ask not
  // to be opened.
  if ((flags & (flag_pie | flag_no_open)) != 0) return false;
  read_tables_ahead(*elf, strings_size, {elf->strings, requirements, definitions});
  object->no_default_folders = (flags & flag_no_default_folders) != 0;
  if (has_soname && !(object->soname = dynamic_string(elf, soname))) return false;
  // A RUNPATH hides the RPATH from glibc.
  if (has_rpath && !object->has_runpath) object->rpath = folder_list_string(elf, rpath, &object->rpath_state);
  if (object->has_runpath) object->runpath = folder_list_string(elf, runpath, &object->runpath_state);
  // glibc meets the version tables only when it checks versions, after
  // mapping: what it would die of there is kept for then.
  const bool failed = elf->failed;
  if (elf->strings && ((requirements && !read_requirements(elf, requirements, object)) ||
                       (definitions && !read_definitions(elf, definitions, object))))
    object->damaged_versions = true;
  if (elf->too_large) return false;
  if (elf->failed != failed) object->damaged_versions = true, elf->failed = failed;
  // The names last, so that they lie side by side in the pool.
  for (size_t i = 0; i < needed_count; ++i) {
    const uint32_t name = dynamic_string(elf, needed[i]);
    if (!name) return false;
    if (i == 0) object->needed = name;
  }
  object->needed_count = static_cast<uint32_t>(needed_count);
  return true;
}

// The loadable segments, checked as glibc maps them: address and offset
// congruent modulo the page size ("ELF load command address/offset not
// page-aligned"), each wholly in the file (past its end the process dies
// of SIGBUS); and what it does not check but dies of: segments out of
// address order or overlapping, more in the file than in memory, code of
// no size.
bool check_segments(const elf_image& elf, uint64_t file_size) {
  const uint64_t page = platform_loader_facts().page_size ? platform_loader_facts().page_size : 4096;
  for (unsigned i = 0; i < elf.load_count; ++i) {
    const load_segment& load = elf.loads[i];
    if ((load.address - load.offset) % page != 0 || load.offset > file_size ||
        load.file_size > file_size - load.offset || load.file_size > load.memory_size ||
        ((load.flags & segment_executable) && load.file_size == 0))
      return false;
    const load_segment* before = i ? &elf.loads[i - 1] : nullptr;
    if (before && (load.address < before->address || load.address - before->address < before->memory_size))
      return false;
  }
  return elf.load_count > 0;
}

}  // namespace

void read_elf_object(binary_file* file, object_table* table, loaded_object* object) {
  elf_image elf{};
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
  if (type != type_dyn || get16(*file, header + (elf.wide ? 54 : 42)) != entry_size) return;

  unsigned char* headers = static_cast<unsigned char*>(malloc(header_count * entry_size + 1));
  elf.loads = static_cast<load_segment*>(malloc(sizeof(load_segment) * (header_count + 1)));
  bool ok = headers && elf.loads && read_bytes(file, headers_at, headers, header_count * entry_size);
  uint64_t dynamic_address = 0, dynamic_size = 0;
  for (unsigned i = 0; ok && i < header_count; ++i) {
    const unsigned char* at = headers + i * entry_size;
    const uint32_t kind = get32(*file, at);
    const uint64_t offset = word(elf, at + (elf.wide ? 8 : 4));
    const uint64_t address = word(elf, at + (elf.wide ? 16 : 8));
    const uint64_t file_size = word(elf, at + (elf.wide ? 32 : 16));
    const uint64_t memory_size = word(elf, at + (elf.wide ? 40 : 20));
    const uint32_t flags = get32(*file, at + (elf.wide ? 4 : 24));
    if (kind == segment_load) elf.loads[elf.load_count++] = {address, offset, file_size, memory_size, flags};
    // The last one counts; glibc finds no dynamic section at address 0 or
    // of no size in the file.
    else if (kind == segment_dynamic) dynamic_address = address, dynamic_size = file_size;
  }
  free(headers);
  if (ok && check_segments(elf, file->size) && dynamic_address != 0 && dynamic_size != 0 &&
      read_dynamic(&elf, dynamic_address, object) && !elf.failed)
    object->state = object_loadable;
  else if (elf.too_large) object->state = object_not_followed;
  free(elf.loads);
}

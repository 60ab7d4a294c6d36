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
  tag_pltrelsz = 2,
  tag_hash = 4,
  tag_strtab = 5,
  tag_symtab = 6,
  tag_rela = 7,
  tag_relasz = 8,
  tag_relaent = 9,
  tag_strsz = 10,
  tag_syment = 11,
  tag_soname = 14,
  tag_rpath = 15,
  tag_rel = 17,
  tag_relsz = 18,
  tag_relent = 19,
  tag_pltrel = 20,
  tag_jmprel = 23,
  tag_runpath = 29,
  tag_relr = 36,
  tag_relrent = 37,
  tag_gnu_hash = 0x6ffffef5,
  tag_versym = 0x6ffffff0,
  tag_relacount = 0x6ffffff9,
  tag_relcount = 0x6ffffffa,
  tag_flags_1 = 0x6ffffffb,
  tag_verdef = 0x6ffffffc,
  tag_verneed = 0x6ffffffe,
};

// The entries of the dynamic section that binding reads (glibc keeps the
// last of each).
struct dynamic_info {
  uint64_t hash, gnu_hash, symbols, symbol_size, strings_size, versions;
  uint64_t relocations, relocations_size, relocation_size, relative_count, plt, plt_size, plt_kind;
  bool rela;
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
      const symbol_version need = {file, name, get32(*elf->file, aux), weak, false, get16(*elf->file, aux + 6), false};
      if (!add_symbol_version(elf->table, need)) return !(elf->too_large = true);
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
    const symbol_version definition = {0,
                                       name,
                                       get32(*elf->file, entry + 8),
                                       false,
                                       !known,
                                       get16(*elf->file, entry + 4),
                                       (get16(*elf->file, entry + 2) & 1) != 0};
    if (!add_symbol_version(elf->table, definition)) return !(elf->too_large = true);
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

// Reads the tables the reader will need (strings, symbols, versions) in
// one go: they lie together (the relocations, after them, are read in
// large pieces past those glibc applies without a symbol). Their sizes are hints here,
// never bounds.
struct table_at {
  uint64_t address, size;
};
void read_tables_ahead(const elf_image& elf, std::initializer_list<table_at> tables) {
  enum : uint64_t { slack = 1024, most = 4 << 20 };
  uint64_t low = UINT64_MAX, high = 0, offset;
  for (const table_at& table : tables) {
    if (!table.address || !file_offset(elf, table.address, &offset)) continue;
    low = offset < low ? offset : low;
    const uint64_t end = offset + (table.size < most ? table.size : most) + slack;
    high = end > high ? end : high;
  }
  if (low < high && high - low <= most) read_ahead(elf.file, low, high - low);
}

// The dynamic section, read as glibc reads it: from its address up to
// DT_NULL, whatever its size says. What the file needs, where it looks, its
// flags; false when the loader would refuse or die of it.
bool read_dynamic(elf_image* elf, uint64_t address, loaded_object* object, dynamic_info* info) {
  const size_t entry_size = elf->wide ? 16 : 8;
  uint64_t needed[max_needed];
  size_t needed_count = 0;
  uint64_t soname = 0, rpath = 0, runpath = 0, flags = 0, requirements = 0, definitions = 0, strings_size = 0;
  uint64_t relr_entry_size = 0;
  bool has_soname = false, has_rpath = false, has_relr = false;
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
      case tag_strsz: strings_size = info->strings_size = value; break;
      case tag_hash: info->hash = value; break;
      case tag_gnu_hash: info->gnu_hash = value; break;
      case tag_symtab: info->symbols = value; break;
      case tag_syment: info->symbol_size = value; break;
      case tag_versym: info->versions = value; break;
      case tag_rela: info->relocations = value, info->rela = true; break;
      case tag_rel: info->relocations = value, info->rela = false; break;
      case tag_relasz:
      case tag_relsz: info->relocations_size = value; break;
      case tag_relaent:
      case tag_relent: info->relocation_size = value; break;
      case tag_relacount:
      case tag_relcount: info->relative_count = value; break;
      case tag_jmprel: info->plt = value; break;
      case tag_pltrelsz: info->plt_size = value; break;
      case tag_pltrel: info->plt_kind = value; break;
      case tag_soname: soname = value, has_soname = true; break;
      case tag_rpath: rpath = value, has_rpath = true; break;
      case tag_runpath: runpath = value, object->has_runpath = true; break;
      case tag_flags_1: flags = value; break;
      case tag_verneed: requirements = value; break;
      case tag_verdef: definitions = value; break;
      case tag_relr: has_relr = true; break;
      case tag_relrent: relr_entry_size = value; break;
      default: break;
    }
  }
  // dlopen refuses position-independent programs and objects that ask not
  // to be opened; glibc asserts the size of a packed relocation.
  if ((flags & (flag_pie | flag_no_open)) != 0) return false;
  if (relr_entry_size && relr_entry_size != entry_size / 2) return false;
  read_tables_ahead(*elf, {{elf->strings, strings_size},
                           {requirements, 0},
                           {definitions, 0},
                           {info->gnu_hash ? info->gnu_hash : info->hash, 0},
                           {info->symbols, 0},
                           {info->versions, 0}});
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
  bool needs_libc = false;
  for (size_t i = 0; i < needed_count; ++i) {
    const uint32_t name = dynamic_string(elf, needed[i]);
    if (!name) return false;
    if (i == 0) object->needed = name;
    needs_libc = needs_libc || strncmp(name_at(*elf->table, name), "libc.so.", 8) == 0;
  }
  object->needed_count = static_cast<uint32_t>(needed_count);
  // Packed relocations need a glibc that knows them, which a file that
  // needs libc says by requiring GLIBC_ABI_DT_RELR; glibc refuses it
  // otherwise when it checks versions.
  if (has_relr && requirements && needs_libc) {
    bool marked = false;
    for (uint32_t k = 0; k < object->need_count && !marked; ++k)
      marked =
          strcmp(name_at(*elf->table, elf->table->versions[object->first_need + k].name), "GLIBC_ABI_DT_RELR") == 0;
    if (!marked) object->damaged_versions = true;
  }
  return true;
}

// Relocation types: those that bind no symbol, and those of the class of
// the procedure linkage table's, by machine (x86-64, i386, aarch64).
bool binds_nothing(unsigned machine, uint32_t type) {
  switch (machine) {
    case 62: return type == 0 || type == 8 || type == 37 || type == 38;
    case 3: return type == 0 || type == 8 || type == 42;
    case 183: return type == 0 || type == 1027 || type == 1032;
  }
  return type == 0;
}

// Whether glibc knows a relocation type; one it does not know ends the
// load ("unexpected reloc type"). Other machines' are taken as known.
bool known_type(unsigned machine, uint32_t type) {
  switch (machine) {
    case 62:
      return type <= 2 || (type >= 5 && type <= 8) || type == 10 || (type >= 16 && type <= 18) || type == 32 ||
             type == 33 || (type >= 36 && type <= 38);
    case 3:
      return type <= 2 || (type >= 5 && type <= 8) || type == 14 || (type >= 35 && type <= 38) || type == 41 ||
             type == 42;
  }
  return true;
}

bool plt_class(unsigned machine, uint32_t type) {
  switch (machine) {
    case 62: return type == 7 || type == 16 || type == 17 || type == 18 || type == 36;
    case 3: return type == 7 || type == 14 || (type >= 35 && type <= 37) || type == 41;
    case 183: return type >= 1026 && type <= 1031;
  }
  return true;
}

// Room in one block, taken piece by piece.
struct block_room {
  unsigned char* block;
  size_t used;
  template <typename T>
  T* take(size_t count) {
    T* at = reinterpret_cast<T*>(block + used);
    used += (count * sizeof(T) + 7) & ~size_t{7};
    return at;
  }
};

// Reads what binding needs of a file's symbols, as glibc reads them: the
// hash table it reads (GNU's where there is one) and the symbols it
// reaches, their versions, the strings, and the symbols the relocations
// bind, in the order glibc processes them. False where the loader would
// refuse the file or die of its tables; tables past the limits leave the
// symbols unread (not followed).
bool read_symbols(elf_image* elf, const dynamic_info& info, unsigned machine, loaded_object* object) {
  enum : uint64_t { max_count = 1 << 22, max_strings = uint64_t{64} << 20 };
  const binary_file& file = *elf->file;
  const size_t word_size = elf->wide ? 8 : 4, symbol_size = elf->wide ? 24 : 16, relocation_size = elf->wide ? 24 : 8;
  // glibc asserts these.
  if ((info.relocations || info.plt_kind) && info.relocation_size != (info.rela ? relocation_size : 8) &&
      info.relocations)
    return false;
  if (info.plt_kind && info.plt_kind != (info.rela ? tag_rela : tag_rel)) return false;
  uint32_t header[4] = {};
  elf_symbols tables{};
  uint64_t buckets_at = 0, chains_at = 0;
  if (info.gnu_hash || info.hash) {
    unsigned char bytes[16];
    if (!read_image(*elf, info.gnu_hash ? info.gnu_hash : info.hash, bytes, info.gnu_hash ? 16 : 8)) return false;
    for (int i = 0; i < 4; ++i) header[i] = get32(file, bytes + 4 * i);
  }
  if (info.gnu_hash) {
    tables.hash = gnu_hash;
    tables.bucket_count = header[0], tables.symbol_offset = header[1];
    tables.bloom_words = header[2], tables.bloom_shift = header[3];
    // glibc asserts a power of two, and reads past the filter at 0.
    if (tables.bloom_words == 0 || (tables.bloom_words & (tables.bloom_words - 1)) != 0) return false;
    buckets_at = info.gnu_hash + 16 + uint64_t{tables.bloom_words} * word_size;
    chains_at = buckets_at + uint64_t{tables.bucket_count} * 4;
  } else if (info.hash) {
    tables.hash = sysv_hash;
    tables.bucket_count = header[0], tables.chain_count = header[1];
    buckets_at = info.hash + 8;
    chains_at = buckets_at + uint64_t{tables.bucket_count} * 4;
  }
  if (tables.bucket_count > max_count || tables.bloom_words > max_count || tables.chain_count > max_count) {
    object->symbols_unread = true;
    return true;
  }
  uint32_t* buckets = static_cast<uint32_t*>(malloc(tables.bucket_count * 4 + 4));
  if (!buckets || !read_image(*elf, buckets_at, buckets, tables.bucket_count * 4)) {
    free(buckets);
    return !buckets && (object->symbols_unread = true);
  }
  for (uint32_t i = 0; i < tables.bucket_count; ++i)
    buckets[i] = get32(file, reinterpret_cast<unsigned char*>(buckets + i));
  // GNU's table ends at the end of its last chain.
  uint32_t symbol_count = tables.hash == sysv_hash ? tables.chain_count : tables.symbol_offset;
  bool ok = true;
  if (tables.hash == gnu_hash) {
    uint32_t last = 0;
    for (uint32_t i = 0; i < tables.bucket_count; ++i) {
      // A bucket before the chains sends glibc outside its table.
      if (buckets[i] != 0 && buckets[i] < tables.symbol_offset) ok = false;
      last = buckets[i] > last ? buckets[i] : last;
    }
    for (uint32_t i = last; ok && last != 0 && last >= tables.symbol_offset; ++i) {
      unsigned char chain[4];
      if (i - last >= max_count) {
        free(buckets);
        object->symbols_unread = true;
        return true;
      }
      if (!read_image(*elf, chains_at + uint64_t{i - tables.symbol_offset} * 4, chain, 4)) ok = false;
      else if (get32(file, chain) & 1) symbol_count = i + 1;
      if (!ok || symbol_count == i + 1) break;
    }
    tables.chain_count = symbol_count > tables.symbol_offset ? symbol_count - tables.symbol_offset : 0;
  }
  if (!ok || (symbol_count && !info.symbols)) {
    free(buckets);
    return false;
  }
  // Relocations first: the symbols they bind decide how many symbols to
  // read, where no hash table counts them. Those glibc applies as relative
  // without reading them are passed over.
  uint64_t ranges[2][2] = {{info.relocations, info.relocations_size}, {info.plt_kind ? info.plt : 0, info.plt_size}};
  if (ranges[1][0] && ranges[0][0] + ranges[0][1] == ranges[1][0] + ranges[1][1]) ranges[0][1] -= ranges[1][1];
  const uint64_t entry_size = info.rela ? relocation_size : 8;
  const uint64_t relative =
      info.relative_count * entry_size < ranges[0][1] ? info.relative_count * entry_size : ranges[0][1];
  ranges[0][0] += relative, ranges[0][1] -= relative;
  const uint64_t relocation_count = (ranges[0][1] + ranges[1][1]) / entry_size;
  if (relocation_count > max_count) {
    free(buckets);
    object->symbols_unread = true;
    return true;
  }
  elf_reference* bound = static_cast<elf_reference*>(malloc(relocation_count * sizeof(elf_reference) + 8));
  uint32_t bound_count = 0;
  ok = bound != nullptr;
  unsigned char chunk[65536 - 65536 % 24];
  for (int range = 0; ok && range < 2; ++range) {
    uint64_t chunk_at = 0, chunk_length = 0;
    for (uint64_t at = 0; ok && at + entry_size <= ranges[range][1]; at += entry_size) {
      // Read in chunks of whole entries.
      if (at - chunk_at >= chunk_length) {
        chunk_at = at;
        chunk_length = ranges[range][1] - at < sizeof chunk ? (ranges[range][1] - at) / entry_size * entry_size
                                                            : sizeof chunk / entry_size * entry_size;
        // Entry by entry where the chunk would cross into another segment.
        ok = read_image(*elf, ranges[range][0] + at, chunk, chunk_length) ||
             read_image(*elf, ranges[range][0] + at, chunk, chunk_length = entry_size);
      }
      const unsigned char* entry = chunk + (at - chunk_at);
      const uint64_t relocation = !ok ? 0 : elf->wide ? get64(file, entry + 8) : get32(file, entry + 4);
      const uint32_t type = elf->wide ? static_cast<uint32_t>(relocation) : relocation & 0xFF;
      const uint32_t symbol = static_cast<uint32_t>(elf->wide ? relocation >> 32 : relocation >> 8);
      if (ok && !known_type(machine, type)) bound[bound_count++] = {0, false, true};
      if (!ok || symbol == 0 || binds_nothing(machine, type) || !known_type(machine, type)) continue;
      bound[bound_count++] = {symbol, plt_class(machine, type), false};
      if (symbol >= symbol_count) symbol_count = symbol + 1;
    }
  }
  if (!ok || symbol_count > max_count) {
    free(buckets), free(bound);
    object->symbols_unread = ok || !bound;
    return ok || !bound;
  }
  // The strings as far as the symbols name them.
  unsigned char* raw = static_cast<unsigned char*>(malloc(uint64_t{symbol_count} * symbol_size + 1));
  ok = raw && read_image(*elf, info.symbols, raw, uint64_t{symbol_count} * symbol_size);
  uint64_t strings_size = info.strings_size;
  for (uint32_t i = 0; ok && i < symbol_count; ++i) {
    const uint32_t name = get32(file, raw + i * symbol_size);
    if (name >= strings_size) strings_size = uint64_t{name} + 256;
  }
  const uint64_t version_high = [&] {
    uint32_t high = 0;
    for (uint32_t i = 0; i < object->need_count + object->definition_count; ++i) {
      const bool need = i < object->need_count;
      const symbol_version& v =
          elf->table->versions[need ? object->first_need + i : object->first_definition + i - object->need_count];
      if ((v.index & 0x7fff) > high && (need || !v.base)) high = v.index & 0x7fff;
    }
    return high;
  }();
  if (!ok || strings_size > max_strings) {
    free(buckets), free(raw), free(bound);
    object->symbols_unread = ok || !raw;
    return ok || !raw;
  }
  block_room room{static_cast<unsigned char*>(malloc(tables.bloom_words * 8 + tables.bucket_count * 4 +
                                                     tables.chain_count * 4 + symbol_count * (sizeof(elf_symbol) + 2) +
                                                     (version_high + 1) * sizeof(elf_version) + strings_size +
                                                     bound_count * sizeof(elf_reference) + 64)),
                  0};
  ok = room.block != nullptr;
  uint64_t* bloom = ok ? room.take<uint64_t>(tables.bloom_words) : nullptr;
  for (uint32_t i = 0; ok && i < tables.bloom_words; ++i) {
    unsigned char bytes[8];
    ok = read_image(*elf, info.gnu_hash + 16 + uint64_t{i} * word_size, bytes, word_size);
    bloom[i] = elf->wide ? get64(file, bytes) : get32(file, bytes);
  }
  uint32_t* chains = ok ? room.take<uint32_t>(tables.chain_count) : nullptr;
  ok = ok && read_image(*elf, chains_at, chains, tables.chain_count * 4);
  for (uint32_t i = 0; ok && i < tables.chain_count; ++i)
    chains[i] = get32(file, reinterpret_cast<unsigned char*>(chains + i));
  uint32_t* kept_buckets = ok ? room.take<uint32_t>(tables.bucket_count) : nullptr;
  if (ok) memcpy(kept_buckets, buckets, tables.bucket_count * 4);
  elf_symbol* symbols = ok ? room.take<elf_symbol>(symbol_count) : nullptr;
  for (uint32_t i = 0; ok && i < symbol_count; ++i) {
    const unsigned char* at = raw + i * symbol_size;
    const uint64_t value = elf->wide ? get64(file, at + 8) : get32(file, at + 4);
    const unsigned char* tail = at + (elf->wide ? 4 : 12);  // info, other, section
    symbols[i] = {get32(file, at), tail[0], tail[1], get16(file, tail + 2), value != 0};
  }
  uint16_t* symbol_versions = ok && info.versions && version_high ? room.take<uint16_t>(symbol_count) : nullptr;
  ok = ok && (!symbol_versions || read_image(*elf, info.versions, symbol_versions, symbol_count * 2));
  for (uint32_t i = 0; ok && symbol_versions && i < symbol_count; ++i)
    symbol_versions[i] = get16(file, reinterpret_cast<unsigned char*>(symbol_versions + i));
  elf_version* versions = ok ? room.take<elf_version>(version_high + 1) : nullptr;
  if (ok) memset(versions, 0, (version_high + 1) * sizeof(elf_version));
  for (uint32_t i = 0; ok && version_high && i < object->need_count + object->definition_count; ++i) {
    const bool need = i < object->need_count;
    const symbol_version& v =
        elf->table->versions[need ? object->first_need + i : object->first_definition + i - object->need_count];
    if (!need && v.base) continue;
    versions[v.index & 0x7fff] = {v.name, v.hash, need ? v.file : 0, need && (v.index & 0x8000) != 0};
  }
  char* strings = ok ? room.take<char>(strings_size + 1) : nullptr;
  // Strings past the file read as zeros here; glibc would read whatever
  // lies there, or die, and a name it would read so binds nothing.
  if (ok) {
    uint64_t at = 0;
    for (uint64_t piece = 0; at < strings_size; at += piece) {
      piece = strings_size - at < 65536 ? strings_size - at : 65536;
      if (read_image(*elf, elf->strings + at, strings + at, piece)) continue;
      piece = piece < 4096 ? piece : 4096;
      if (!read_image(*elf, elf->strings + at, strings + at, piece)) break;
    }
    memset(strings + at, 0, strings_size + 1 - at);
  }
  elf_reference* references = ok ? room.take<elf_reference>(bound_count) : nullptr;
  uint32_t reference_count = 0;
  unsigned char* seen = ok ? static_cast<unsigned char*>(calloc(symbol_count / 8 + 1, 1)) : nullptr;
  ok = ok && seen;
  for (uint32_t i = 0; ok && i < bound_count; ++i) {
    const uint32_t symbol = bound[i].symbol;
    if (bound[i].unknown_type) {
      references[reference_count++] = bound[i];
      break;
    }
    // Local and hidden symbols bind to the file itself, unlooked-up; a
    // symbol is looked up once.
    const elf_symbol& referred = symbols[symbol];
    if ((referred.info >> 4) == 0 || (referred.other & 3) == 1 || (referred.other & 3) == 2) continue;
    if (seen[symbol / 8] & (1 << (symbol % 8))) continue;
    seen[symbol / 8] |= static_cast<unsigned char>(1 << (symbol % 8));
    references[reference_count++] = bound[i];
  }
  free(seen), free(buckets), free(raw), free(bound);
  if (!ok) {
    free(room.block);
    return false;
  }
  tables.bloom = bloom, tables.buckets = kept_buckets, tables.chains = chains;
  tables.symbols = symbols, tables.symbol_count = symbol_count, tables.symbol_versions = symbol_versions;
  tables.versions = versions, tables.version_count = static_cast<uint32_t>(version_high + 1);
  tables.strings = strings, tables.strings_size = static_cast<uint32_t>(strings_size);
  tables.references = references, tables.reference_count = reference_count;
  object->symbols = add_symbols(elf->table, {room.block, tables, {}});
  object->symbols_unread = object->symbols_unread || object->symbols < 0;
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
  dynamic_info info{};
  if (ok && check_segments(elf, file->size) && dynamic_address != 0 && dynamic_size != 0 &&
      read_dynamic(&elf, dynamic_address, object, &info) && !elf.failed &&
      read_symbols(&elf, info, get16(*file, header + 18), object))
    object->state = object_loadable;
  else if (elf.too_large) object->state = object_not_followed;
  free(elf.loads);
}

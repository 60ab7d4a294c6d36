// ELF: the checks glibc's loader makes of a file before and while it maps
// it, and the parts of its dynamic section that say what it needs and
// where to look. Everything past the headers is read as the loader sees
// it: through the file's loadable segments, zeros where a segment holds
// more in memory than in the file.
#include "loader/elf_file.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "loader/formats.h"
#include "platform/platform.h"

namespace {

// Bounds on what a hostile file can make the reader hold; past them, a
// file is not followed.
enum : uint64_t { max_dynamic = 1 << 20, max_needed = 4096, max_versions = 4096 };
enum : uint64_t { max_count = 1 << 22, max_copies = uint64_t{64} << 20 };
enum : size_t { name_capacity = 4096, list_capacity = 65536 };

// The dynamic section as glibc decodes it (elf_get_dynamic_info): the
// last of each entry counts, every DT_NEEDED is kept. Read once, then
// applied.
struct dynamic_info {
  // What binding reads.
  uint64_t hash, gnu_hash, symbols, symbol_size, strings_size, versions;
  // DT_RELA's and DT_REL's tables apart: a machine's loader reads one kind.
  struct relocation_table {
    uint64_t address, size, entry_size, relative_count;
    bool present;
  } rela, rel;
  uint64_t plt, plt_size, plt_kind;
  // What the file needs, where it looks, its flags.
  uint64_t strings, soname, rpath, runpath, flags_1, requirements, definitions, relr_entry_size;
  bool has_soname, has_rpath, has_runpath, has_relr;
  // DT_NEEDED entries, counted: their names are read in a second walk.
  uint64_t dynamic_address;
  size_t needed_count;
};

library_arch elf_arch(int elf_class, unsigned machine) {
  const bool wide = elf_class == elfclass64;
  switch (machine) {
    case em_386: return wide ? arch_other : arch_x86;
    case em_x86_64: return wide ? arch_x64 : arch_other;
    case em_aarch64: return wide ? arch_arm64 : arch_other;
    case em_arm: return wide ? arch_other : arch_arm;
  }
  return arch_other;
}

// The machine this program's loader takes.
unsigned own_machine() {
  switch (program_arch()) {
    case arch_x86: return em_386;
    case arch_x64: return em_x86_64;
    case arch_arm64: return em_aarch64;
    case arch_arm: return em_arm;
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
    unsigned char entry[verneed_size];
    if (entries == max_versions) return !(elf->too_large = true);
    if (!read_image(*elf, address, entry, sizeof entry) ||
        (entries == 0 && get16(*elf->file, entry + vn_version) != ver_need_current))
      return false;
    const uint32_t file = dynamic_string(elf, get32(*elf->file, entry + vn_file));
    if (!file) return false;
    uint64_t aux_at = address + get32(*elf->file, entry + vn_aux);
    for (;;) {
      unsigned char aux[vernaux_size];
      if (object->need_count >= max_versions) return !(elf->too_large = true);
      if (!read_image(*elf, aux_at, aux, sizeof aux)) return false;
      const uint32_t name = dynamic_string(elf, get32(*elf->file, aux + vna_name));
      const bool weak = (get16(*elf->file, aux + vna_flags) & ver_flg_weak) != 0;
      if (!name) return false;
      const symbol_version need = {
          file, name, get32(*elf->file, aux + vna_hash), weak, false, get16(*elf->file, aux + vna_other), false};
      if (!add_symbol_version(elf->table, need)) return !(elf->too_large = true);
      ++object->need_count;
      const uint32_t next = get32(*elf->file, aux + vna_next);
      if (next == 0) break;
      aux_at += next;
    }
    const uint32_t next = get32(*elf->file, entry + vn_next);
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
    unsigned char entry[verdef_size], aux[verdaux_size];
    if (entries == max_versions) return !(elf->too_large = true);
    if (!read_image(*elf, address, entry, sizeof entry) ||
        !read_image(*elf, address + get32(*elf->file, entry + vd_aux), aux, sizeof aux))
      return false;
    const bool known = get16(*elf->file, entry + vd_version) == ver_def_current;
    const uint32_t name = dynamic_string(elf, get32(*elf->file, aux + vda_name));
    if (!name) return false;
    const symbol_version definition = {0,
                                       name,
                                       get32(*elf->file, entry + vd_hash),
                                       false,
                                       !known,
                                       get16(*elf->file, entry + vd_ndx),
                                       (get16(*elf->file, entry + vd_flags) & ver_flg_base) != 0};
    if (!add_symbol_version(elf->table, definition)) return !(elf->too_large = true);
    ++object->definition_count;
    const uint32_t next = get32(*elf->file, entry + vd_next);
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

// Notes one entry of the dynamic section; false past the limit of
// DT_NEEDED entries.
bool note_entry(void* context, uint64_t tag, uint64_t value) {
  dynamic_info* info = static_cast<dynamic_info*>(context);
  switch (tag) {
    case dt_needed:
      if (info->needed_count == max_needed) return false;
      ++info->needed_count;
      break;
    case dt_strtab: info->strings = value; break;
    case dt_strsz: info->strings_size = value; break;
    case dt_hash: info->hash = value; break;
    case dt_gnu_hash: info->gnu_hash = value; break;
    case dt_symtab: info->symbols = value; break;
    case dt_syment: info->symbol_size = value; break;
    case dt_versym: info->versions = value; break;
    case dt_rela: info->rela.address = value, info->rela.present = true; break;
    case dt_rel: info->rel.address = value, info->rel.present = true; break;
    case dt_relasz: info->rela.size = value; break;
    case dt_relsz: info->rel.size = value; break;
    case dt_relaent: info->rela.entry_size = value; break;
    case dt_relent: info->rel.entry_size = value; break;
    case dt_relacount: info->rela.relative_count = value; break;
    case dt_relcount: info->rel.relative_count = value; break;
    case dt_jmprel: info->plt = value; break;
    case dt_pltrelsz: info->plt_size = value; break;
    case dt_pltrel: info->plt_kind = value; break;
    case dt_soname: info->soname = value, info->has_soname = true; break;
    case dt_rpath: info->rpath = value, info->has_rpath = true; break;
    case dt_runpath: info->runpath = value, info->has_runpath = true; break;
    case dt_flags_1: info->flags_1 = value; break;
    case dt_verneed: info->requirements = value; break;
    case dt_verdef: info->definitions = value; break;
    case dt_relr: info->has_relr = true; break;
    case dt_relrent: info->relr_entry_size = value; break;
    default: break;
  }
  return true;
}

// Walks the dynamic section as glibc reads it, each entry to note: from
// its address up to DT_NULL, whatever its size says. False where the
// loader would die of it, or past the limits (too_large, where note
// refuses an entry).
bool walk_dynamic(elf_image* elf, uint64_t address, bool (*note)(void*, uint64_t, uint64_t), void* context) {
  const size_t entry_size = elf->wide ? elf64_dyn_size : elf32_dyn_size;
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
    // d_tag, signed, then d_val: a word each.
    const unsigned char* entry = block + (at - block_start);
    const uint64_t raw = word(*elf, entry);
    const uint64_t tag = elf->wide ? raw : static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(raw)));
    if (tag == dt_null) return true;
    if (!note(context, tag, word(*elf, entry + entry_size / 2))) return !(elf->too_large = true);
  }
}

// The version tables. glibc meets them only when it checks versions, after
// mapping: what it would die of there is kept for then.
void read_version_tables(elf_image* elf, const dynamic_info& info, loaded_object* object) {
  const bool failed = elf->failed;
  if (elf->strings && ((info.requirements && !read_requirements(elf, info.requirements, object)) ||
                       (info.definitions && !read_definitions(elf, info.definitions, object))))
    object->damaged_versions = true;
  if (elf->too_large) return;
  if (elf->failed != failed) object->damaged_versions = true, elf->failed = failed;
}

// The names of the libraries the file needs, last, so that they lie side
// by side in the pool; false where one cannot be read.
struct needed_names {
  elf_image* elf;
  loaded_object* object;
  size_t read, count;
  bool unreadable, needs_libc;
};

bool note_needed(void* context, uint64_t tag, uint64_t value) {
  needed_names* n = static_cast<needed_names*>(context);
  if (tag != dt_needed || n->unreadable || n->read == n->count) return true;
  const uint32_t name = dynamic_string(n->elf, value);
  if (!name) return (n->unreadable = true);
  if (n->read++ == 0) n->object->needed = name;
  n->needs_libc = n->needs_libc || strncmp(name_at(*n->elf->table, name), "libc.so.", 8) == 0;
  return true;
}

bool read_needed(elf_image* elf, const dynamic_info& info, loaded_object* object) {
  needed_names names{elf, object, 0, info.needed_count, false, false};
  if (info.needed_count && !walk_dynamic(elf, info.dynamic_address, note_needed, &names)) return false;
  if (names.unreadable || names.read != info.needed_count) return false;
  const bool needs_libc = names.needs_libc;
  object->needed_count = static_cast<uint32_t>(info.needed_count);
  // Packed relocations need a glibc that knows them, which a file that
  // needs libc says by requiring GLIBC_ABI_DT_RELR; glibc refuses it
  // otherwise when it checks versions.
  if (info.has_relr && info.requirements && needs_libc) {
    bool marked = false;
    for (uint32_t k = 0; k < object->need_count && !marked; ++k)
      marked =
          strcmp(name_at(*elf->table, elf->table->versions[object->first_need + k].name), "GLIBC_ABI_DT_RELR") == 0;
    if (!marked) object->damaged_versions = true;
  }
  return true;
}

// Where a table lies in the file (its segment's part of the file ends
// there for a table past it); null where no segment holds it.
const load_segment* table_in_file(const elf_image& elf, uint64_t address, uint64_t* offset) {
  const load_segment* load = address ? segment_at(elf, address) : nullptr;
  if (load) *offset = load->offset + (address - load->address < load->file_size ? address - load->address : load->file_size);
  return load;
}

// The stretch of the file that holds the tables (hash table, symbols,
// names, version indices), as far as the last of them reaches where it
// can be told (the version indices: two bytes a symbol that fits before
// the next table), else to the end of its segment: glibc reads a name
// wherever it points, whatever DT_STRSZ says.
void tables_stretch(const elf_image& elf, const dynamic_info& info, uint64_t* low, uint64_t* high) {
  const uint64_t addresses[4] = {info.gnu_hash ? info.gnu_hash : info.hash, info.symbols, info.strings, info.versions};
  uint64_t offsets[4] = {}, last = 0;
  const load_segment* last_load = nullptr;
  int last_table = -1;
  *low = UINT64_MAX;
  for (int i = 0; i < 4; ++i) {
    const load_segment* load = table_in_file(elf, addresses[i], &offsets[i]);
    if (!load) continue;
    *low = offsets[i] < *low ? offsets[i] : *low;
    if (offsets[i] >= last) last = offsets[i], last_load = load, last_table = i;
  }
  if (!last_load) return void(*low = *high = 0);
  uint64_t symbols_end = UINT64_MAX;  // the next table past the symbols
  for (int i = 0; i < 4; ++i)
    if (addresses[i] && offsets[i] > offsets[1] && offsets[i] < symbols_end) symbols_end = offsets[i];
  const uint64_t segment_end = last_load->offset + last_load->file_size;
  uint64_t reach = segment_end - last;
  if (last_table == 3 && addresses[1] && symbols_end != UINT64_MAX)
    reach = (symbols_end - offsets[1]) / (elf.wide ? elf64_sym_size : elf32_sym_size) * 2;
  *high = last + (reach < segment_end - last ? reach : segment_end - last);
}

// Maps the tables' stretch for the lookups to read in place; the reads of
// the names the file needs, and of its versions, come from it too.
bool map_tables(elf_image* elf, const dynamic_info& info) {
  binary_file& file = *elf->file;
  uint64_t low = 0, high = 0;
  tables_stretch(*elf, info, &low, &high);
  if (!file.mappable || high <= low || !platform_map_file(file.file, low, high - low, &file.mapping)) return false;
  file.ahead = file.mapping.bytes, file.ahead_start = low, file.ahead_length = static_cast<size_t>(high - low);
  return true;
}

// The dynamic section, read once (walk_dynamic), then applied: what the
// file needs, where it looks, its flags; false when the loader would
// refuse or die of it.
bool read_dynamic(elf_image* elf, uint64_t address, loaded_object* object, dynamic_info* info) {
  info->dynamic_address = address;
  if (!walk_dynamic(elf, address, note_entry, info)) return false;
  elf->strings = info->strings;
  object->has_runpath = info->has_runpath;
  // dlopen refuses position-independent programs and objects that ask not
  // to be opened; glibc asserts the size of a packed relocation.
  if ((info->flags_1 & (df_1_pie | df_1_noopen)) != 0) return false;
  if (info->relr_entry_size && info->relr_entry_size != (elf->wide ? elf64_relr_size : elf32_relr_size)) return false;
  if (!map_tables(elf, *info))
    read_tables_ahead(*elf, {{elf->strings, info->strings_size}, {info->requirements, 0}, {info->definitions, 0}});
  object->no_default_folders = (info->flags_1 & df_1_nodeflib) != 0;
  if (info->has_soname && !(object->soname = dynamic_string(elf, info->soname))) return false;
  // A RUNPATH hides the RPATH from glibc.
  if (info->has_rpath && !info->has_runpath) object->rpath = folder_list_string(elf, info->rpath, &object->rpath_state);
  if (info->has_runpath) object->runpath = folder_list_string(elf, info->runpath, &object->runpath_state);
  read_version_tables(elf, *info, object);
  if (elf->too_large) return false;
  return read_needed(elf, *info, object);
}

// Whether a relocation type is one of those listed.
bool one_of(uint32_t type, std::initializer_list<uint32_t> types) {
  for (const uint32_t listed : types)
    if (type == listed) return true;
  return false;
}

// Relocation types, by machine (x86-64, i386, aarch64): those that bind no
// symbol (R_*_NONE is 0 on every machine).
bool binds_nothing(unsigned machine, uint32_t type) {
  switch (machine) {
    case em_x86_64:
      return type == r_x86_64_none || type == r_x86_64_relative || type == r_x86_64_irelative ||
             type == r_x86_64_relative64;
    case em_386: return type == r_386_none || type == r_386_relative || type == r_386_irelative;
    case em_aarch64: return type == r_aarch64_none || type == r_aarch64_relative || type == r_aarch64_irelative;
  }
  return type == 0;
}

// Whether glibc knows a relocation type; one it does not know ends the
// load ("unexpected reloc type"). Other machines' are taken as known.
bool known_type(unsigned machine, uint32_t type) {
  switch (machine) {
    case em_x86_64:
      return one_of(type,
                    {r_x86_64_none, r_x86_64_64, r_x86_64_pc32, r_x86_64_copy, r_x86_64_glob_dat, r_x86_64_jump_slot,
                     r_x86_64_relative, r_x86_64_32, r_x86_64_dtpmod64, r_x86_64_dtpoff64, r_x86_64_tpoff64,
                     r_x86_64_size32, r_x86_64_size64, r_x86_64_tlsdesc, r_x86_64_irelative, r_x86_64_relative64});
    case em_386:
      return one_of(type, {r_386_none, r_386_32, r_386_pc32, r_386_copy, r_386_glob_dat, r_386_jmp_slot, r_386_relative,
                           r_386_tls_tpoff, r_386_tls_dtpmod32, r_386_tls_dtpoff32, r_386_tls_tpoff32, r_386_size32,
                           r_386_tls_desc, r_386_irelative});
  }
  return true;
}

// Whether a type is of the class of the procedure linkage table's.
bool plt_class(unsigned machine, uint32_t type) {
  switch (machine) {
    case em_x86_64:
      return one_of(type,
                    {r_x86_64_jump_slot, r_x86_64_dtpmod64, r_x86_64_dtpoff64, r_x86_64_tpoff64, r_x86_64_tlsdesc});
    case em_386:
      return one_of(type, {r_386_jmp_slot, r_386_tls_tpoff, r_386_tls_dtpmod32, r_386_tls_dtpoff32, r_386_tls_tpoff32,
                           r_386_tls_desc});
    case em_aarch64: return type >= r_aarch64_jump_slot && type <= r_aarch64_tlsdesc;
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

// How reading a file's symbols ends: read; past a limit or out of memory
// (not followed); or where the loader would refuse the file or die of its
// tables.
enum symbols_end { symbols_read, symbols_unread, symbols_refused };

// A symbol a relocation binds, and whether the relocation is of the PLT's
// class; or a relocation of a type glibc does not know.
struct relocation_symbol {
  uint32_t symbol;
  bool plt, unknown_type;
};

// What reading a file's symbols works with, and the memory it takes: one
// owner, freed in one place (free_reading), the block binding keeps and
// the copies of segments (where the file is not mapped) handed on to the
// table once all is read.
struct symbol_reading {
  elf_image* elf;
  const dynamic_info* info;
  loaded_object* object;
  unsigned machine;
  size_t word_size;
  uint64_t relocation_size;  // of the entries DT_RELA or DT_REL list
  elf_symbols tables;
  uint64_t buckets_at;
  uint32_t symbol_count;  // as far as the relocations refer
  uint64_t version_high;  // the highest version index
  // glibc's (its base definition counted): it reads a version index past it,
  // or any but 0 where the file has no version tables, and dies of it.
  uint64_t glibc_version_high;
  relocation_symbol* bound;  // what the relocations bind, in their order
  uint32_t bound_count;
  unsigned char* seen;  // a bit a symbol: already looked up
  unsigned char* copies;
  block_room room;  // the block binding keeps
};

void free_reading(symbol_reading* r) { free(r->seen), free(r->copies), free(r->room.block); }

// The hash table's header: the sizes of its parts and where they lie.
symbols_end read_hash_header(symbol_reading* r) {
  const dynamic_info& info = *r->info;
  elf_symbols& tables = r->tables;
  uint32_t header[4] = {};
  if (info.gnu_hash || info.hash) {
    unsigned char bytes[16] = {};
    if (!read_image(*r->elf, info.gnu_hash ? info.gnu_hash : info.hash, bytes, info.gnu_hash ? 16 : 8))
      return symbols_refused;
    for (int i = 0; i < 4; ++i) header[i] = get32(*r->elf->file, bytes + 4 * i);
  }
  if (info.gnu_hash) {
    tables.hash = gnu_hash;
    tables.bucket_count = header[0], tables.symbol_offset = header[1];
    tables.bloom_words = header[2], tables.bloom_shift = header[3];
    // glibc asserts a power of two, and reads past the filter at 0.
    if (tables.bloom_words == 0 || (tables.bloom_words & (tables.bloom_words - 1)) != 0) return symbols_refused;
    r->buckets_at = 16 + uint64_t{tables.bloom_words} * r->word_size;
  } else if (info.hash) {
    tables.hash = sysv_hash;
    tables.bucket_count = header[0], tables.chain_count = header[1];
    r->buckets_at = 8;
  }
  if (tables.bucket_count > max_count || tables.bloom_words > max_count || tables.chain_count > max_count)
    return symbols_unread;
  // A symbol table the hash table reaches, and none to reach.
  if (tables.hash != no_hash && !info.symbols && (tables.symbol_offset || tables.chain_count)) return symbols_refused;
  return symbols_read;
}

// A table's view of the stretch read from low to high: within its segment,
// zeros past the segment's part of the file where the stretch reaches it.
image_view view_of(const symbol_reading* r, uint64_t address, const unsigned char* bytes, uint64_t low, uint64_t high) {
  uint64_t offset = 0;
  const load_segment* load = table_in_file(*r->elf, address, &offset);
  if (!load || offset < low || offset > high) return {};
  const uint64_t file_end = load->offset + load->file_size;
  const uint64_t floor = load->offset > low ? load->offset - low : 0;
  const uint64_t file_length = (high < file_end ? high : file_end) - low;
  const uint64_t memory_length = high >= file_end ? load->offset + load->memory_size - low : file_length;
  return {bytes, load->offset + (address - load->address) - low, floor, file_length, memory_length};
}

// The tables where binding reads them, from one stretch of the file mapped
// (or, where it cannot be, read): the hash table (its filter and buckets
// wholly in its segment: glibc reads them at every lookup), the symbols,
// their names and version indices.
symbols_end view_tables(symbol_reading* r) {
  const dynamic_info& info = *r->info;
  elf_symbols& t = r->tables;
  const uint64_t addresses[4] = {info.gnu_hash ? info.gnu_hash : info.hash, info.symbols, r->elf->strings,
                                 info.versions};
  binary_file& file = *r->elf->file;
  uint64_t low = 0, high = file.size;
  if (!file.bytes) tables_stretch(*r->elf, info, &low, &high);
  const unsigned char* bytes = file.bytes ? file.bytes : file.mapping.bytes;
  if (!bytes && high > low) {
    if (high - low > max_copies || !(r->copies = static_cast<unsigned char*>(malloc(high - low)))) return symbols_unread;
    if (!read_bytes(&file, low, r->copies, high - low)) return symbols_refused;
    bytes = r->copies;
  }
  image_view* views[4] = {&t.hash_table, &t.symbols, &t.strings, &t.symbol_versions};
  for (int i = 0; i < 4; ++i) *views[i] = view_of(r, addresses[i], bytes, low, high);
  uint64_t last = 0;
  const uint64_t buckets_end = r->buckets_at + uint64_t{t.bucket_count} * 4;
  if (t.hash != no_hash && !view_value(t.hash_table, static_cast<int64_t>(buckets_end - 4), 4, &last))
    return symbols_refused;
  t.wide = r->elf->wide;
  return symbols_read;
}

// What binding makes of a relocation type: whether glibc knows it, whether
// it binds a symbol, whether it is of the PLT's class.
enum : uint8_t { type_known = 1, type_binds = 2, type_plt = 4 };
uint8_t type_class(unsigned machine, uint32_t type) {
  if (!known_type(machine, type)) return 0;
  return type_known | (binds_nothing(machine, type) ? 0 : type_binds) | (plt_class(machine, type) ? type_plt : 0);
}

// An entry's r_info, little-endian (the only ELF the model maps).
uint64_t relocation_info(bool wide, const unsigned char* entry) {
  const unsigned char* at = entry + (wide ? elf64_r_info : elf32_r_info);
  uint64_t info = 0;
  if (std::endian::native == std::endian::little) return memcpy(&info, at, wide ? 8 : 4), info;
  for (unsigned i = 0; i < (wide ? 8u : 4u); ++i) info |= uint64_t{at[i]} << (8 * i);
  return info;
}

// Keeps what the entries of one chunk bind, and any of a type glibc does
// not know; false where one of the first relative entries (which glibc
// applies without a lookup, asserting their type on x86-64) is of another
// type.
bool scan_chunk(symbol_reading* r, const unsigned char* chunk, uint64_t count, uint64_t relative_left,
                const uint8_t* classes) {
  const bool wide = r->elf->wide;
  const size_t entry_size = static_cast<size_t>(r->relocation_size);
  for (uint64_t n = 0; n < count; ++n) {
    const uint64_t info = relocation_info(wide, chunk + n * entry_size);
    const uint32_t type = wide ? elf64_r_type(info) : elf32_r_type(info);
    if (n < relative_left) {
      if (type != r_x86_64_relative) return false;
      continue;
    }
    const uint32_t symbol = wide ? elf64_r_sym(info) : elf32_r_sym(info);
    const uint8_t kind = type < 64 ? classes[type] : type_class(r->machine, type);
    if (!(kind & type_known)) r->bound[r->bound_count++] = {0, false, true};
    if (symbol == 0 || !(kind & type_binds)) continue;
    r->bound[r->bound_count++] = {symbol, (kind & type_plt) != 0, false};
    if (symbol >= r->symbol_count) r->symbol_count = symbol + 1;
  }
  return true;
}

// Reads one range of relocations, in chunks of whole entries, keeping the
// symbols they bind; false where an entry cannot be read, or where glibc
// would die of one of the first relative entries.
bool scan_relocations(symbol_reading* r, uint64_t address, uint64_t size, uint64_t relative_entries) {
  const uint64_t entry_size = r->relocation_size;
  uint8_t classes[64];
  for (uint32_t type = 0; type < 64; ++type) classes[type] = type_class(r->machine, type);
  unsigned char chunk[16384 - 16384 % 24];
  for (uint64_t at = 0; at + entry_size <= size;) {
    uint64_t length =
        size - at < sizeof chunk ? (size - at) / entry_size * entry_size : sizeof chunk / entry_size * entry_size;
    // Entry by entry where the chunk would cross into another segment.
    if (!read_image(*r->elf, address + at, chunk, length) &&
        !read_image(*r->elf, address + at, chunk, length = entry_size))
      return false;
    const uint64_t first = at / entry_size;
    const uint64_t relative_left = relative_entries > first ? relative_entries - first : 0;
    if (!scan_chunk(r, chunk, length / entry_size, relative_left, classes)) return false;
    at += length;
  }
  return true;
}

// Whether the machine's loader reads Elf_Rela entries (DT_RELA) rather than
// Elf_Rel ones (DT_REL): it reads one kind alone, and ignores the other.
bool reads_rela(unsigned machine) { return machine != em_386 && machine != em_arm; }

// The symbols the relocations bind, in the order glibc processes them:
// read before the symbols, since they decide how many to read where no
// hash table counts them. The table of the machine's kind, then the
// procedure linkage table's (one range where they meet, as glibc binds
// them at load); the first DT_RELACOUNT entries of the first range are
// relative, and glibc applies them without a lookup.
symbols_end read_relocations(symbol_reading* r) {
  const dynamic_info& info = *r->info;
  const dynamic_info::relocation_table& own = reads_rela(r->machine) ? info.rela : info.rel;
  uint64_t ranges[2][2] = {{own.present ? own.address : 0, own.present ? own.size : 0}, {0, 0}};
  if (info.plt_kind) {
    const uint64_t start = info.plt, size = info.plt_size;
    if (ranges[0][0] + ranges[0][1] == start + size && size <= ranges[0][1]) ranges[0][1] -= size;
    if (ranges[0][0] + ranges[0][1] == start) ranges[0][1] += size;
    else ranges[1][0] = start, ranges[1][1] = size;
  }
  const uint64_t entry_size = r->relocation_size;
  const uint64_t relative =
      own.relative_count < ranges[0][1] / entry_size ? own.relative_count : ranges[0][1] / entry_size;
  // Only x86-64's loader asserts their type: elsewhere they are passed over.
  const uint64_t checked = r->machine == em_x86_64 ? relative : 0;
  ranges[0][0] += (relative - checked) * entry_size, ranges[0][1] -= (relative - checked) * entry_size;
  // Each range counted apart: their sizes may add up past 64 bits.
  if (ranges[0][1] / entry_size > max_count || ranges[1][1] / entry_size > max_count) return symbols_unread;
  const uint64_t relocation_count = ranges[0][1] / entry_size + ranges[1][1] / entry_size - checked;
  if (relocation_count > max_count) return symbols_unread;
  r->bound = reinterpret_cast<relocation_symbol*>(
      room_of(&r->elf->table->scratch, relocation_count * sizeof(relocation_symbol) + 8));
  if (!r->bound) return symbols_unread;
  if (!scan_relocations(r, ranges[0][0], ranges[0][1], checked) || !scan_relocations(r, ranges[1][0], ranges[1][1], 0))
    return symbols_refused;
  return r->symbol_count > max_count ? symbols_unread : symbols_read;
}

// The i-th of a file's symbol versions: its requirements, then its
// definitions.
const symbol_version& version_at(const object_table& table, const loaded_object& object, uint32_t i) {
  const bool need = i < object.need_count;
  return table.versions[need ? object.first_need + i : object.first_definition + i - object.need_count];
}

// The highest version index the file's requirements and definitions give
// (its base definition aside), and glibc's.
void version_highs(symbol_reading* r) {
  const loaded_object& object = *r->object;
  uint32_t high = 0, glibc_high = 0;
  for (uint32_t i = 0; i < object.need_count + object.definition_count; ++i) {
    const symbol_version& v = version_at(*r->elf->table, object, i);
    if ((v.index & versym_index) > high && (i < object.need_count || !v.base)) high = v.index & versym_index;
    if ((v.index & versym_index) > glibc_high) glibc_high = v.index & versym_index;
  }
  r->version_high = high, r->glibc_version_high = glibc_high;
  r->tables.versioned = r->info->versions && high;
}

// The version indices, in the block, as glibc builds them from the file's
// requirements and definitions (its base definition aside).
void fill_versions(symbol_reading* r) {
  const loaded_object& object = *r->object;
  elf_version* versions = r->room.take<elf_version>(r->version_high + 1);
  memset(versions, 0, (r->version_high + 1) * sizeof(elf_version));
  for (uint32_t i = 0; r->version_high && i < object.need_count + object.definition_count; ++i) {
    const bool need = i < object.need_count;
    const symbol_version& v = version_at(*r->elf->table, object, i);
    if (!need && v.base) continue;
    versions[v.index & versym_index] = {v.name, v.hash, need ? v.file : 0, need && (v.index & versym_hidden) != 0};
  }
  r->tables.versions = versions, r->tables.version_count = static_cast<uint32_t>(r->version_high + 1);
}

// The references binding makes, in the block, in order: each symbol
// looked up once, local and hidden ones not at all (they bind to the file
// itself), and none past a relocation of a type glibc does not know.
// False where a symbol or its version cannot be read, where glibc would
// die of its version index, or where memory runs out.
bool fill_references(symbol_reading* r) {
  elf_reference* references = r->room.take<elf_reference>(r->bound_count);
  uint32_t count = 0;
  r->seen = r->bound_count ? static_cast<unsigned char*>(calloc(r->symbol_count / 8 + 1, 1)) : nullptr;
  if (r->bound_count && !r->seen) return false;
  elf_symbols versions_read = r->tables;  // every index glibc reads, versions or none
  versions_read.versioned = r->info->versions != 0;
  for (uint32_t i = 0; i < r->bound_count; ++i) {
    const uint32_t symbol = r->bound[i].symbol;
    if (r->bound[i].unknown_type) {
      references[count++] = {0, 0, 0, 0, 1};
      break;
    }
    elf_symbol referred;
    if (!symbol_at(r->tables, symbol, &referred)) return false;
    const unsigned visibility = symbol_visibility(referred.other);
    if (symbol_binding(referred.info) == stb_local || visibility == stv_internal || visibility == stv_hidden) continue;
    if (r->seen[symbol / 8] & (1 << (symbol % 8))) continue;
    r->seen[symbol / 8] |= static_cast<unsigned char>(1 << (symbol % 8));
    uint16_t version = 0;
    if (!version_index_at(versions_read, symbol, &version)) return false;
    const uint32_t index = version & versym_index;
    if (r->glibc_version_high ? index > r->glibc_version_high : index != 0) return false;
    const bool weak = symbol_binding(referred.info) == stb_weak;
    references[count++] = {referred.name, static_cast<uint16_t>(r->tables.versioned ? version : 0), r->bound[i].plt,
                           weak, 0};
  }
  r->tables.references = references, r->tables.reference_count = count;
  return true;
}

// Takes the block binding keeps, fills it and hands it to the table, with
// what its views point into: read, or unread where the table is full;
// refused where the block cannot be had or filled.
symbols_end keep_symbols(symbol_reading* r) {
  elf_symbols& t = r->tables;
  // A large filter is read in place: a lookup reads one word of it.
  const uint32_t bloom_words = t.hash == gnu_hash && t.bloom_words * r->word_size <= 4096 ? t.bloom_words : 0;
  r->room.block = static_cast<unsigned char*>(malloc(bloom_words * 8 + (r->version_high + 1) * sizeof(elf_version) +
                                                     r->bound_count * sizeof(elf_reference) + 24));
  if (!r->room.block) return symbols_unread;
  uint64_t* bloom = r->room.take<uint64_t>(bloom_words);
  for (uint32_t i = 0; i < bloom_words; ++i)
    view_value(t.hash_table, 16 + int64_t{i} * r->word_size, static_cast<unsigned>(r->word_size), bloom + i);
  t.bloom = bloom_words ? bloom : nullptr;
  fill_versions(r);
  if (!fill_references(r)) return symbols_refused;
  binary_file& file = *r->elf->file;
  object_symbols kept{};
  kept.block = r->room.block, kept.mapping = file.mapping, kept.copies = r->copies, kept.elf = r->tables;
  r->object->symbols = add_symbols(r->elf->table, kept);
  // The table's now, or freed by it.
  r->room.block = nullptr, r->copies = nullptr, file.mapping = {};
  return r->object->symbols < 0 ? symbols_unread : symbols_read;
}

// Reads what binding needs of a file's symbols, as glibc reads them: the
// hash table it reads (GNU's where there is one), and the symbols the
// relocations bind, in the order glibc processes them; the symbols a lookup
// reaches, their names and versions are read in place, when it reaches
// them. False where the loader would refuse the file or die of its tables;
// tables past the limits leave the symbols unread (not followed).
bool read_symbols(elf_image* elf, const dynamic_info& info, unsigned machine, loaded_object* object) {
  symbol_reading r{};
  r.elf = elf, r.info = &info, r.object = object, r.machine = machine;
  r.word_size = elf->wide ? 8 : 4;
  // The entries the machine's loader applies, of the size it asserts (a
  // missing DT_RELAENT is one it dies of), and the kind DT_PLTREL must name.
  const bool rela = reads_rela(machine);
  r.relocation_size =
      rela ? (elf->wide ? elf64_rela_size : elf32_rela_size) : (elf->wide ? elf64_rel_size : elf32_rel_size);
  const dynamic_info::relocation_table& own = rela ? info.rela : info.rel;
  if ((own.present && own.entry_size != r.relocation_size) ||
      (info.plt_kind && info.plt_kind != (rela ? dt_rela : dt_rel)))
    return false;
  symbols_end end = read_hash_header(&r);
  if (end == symbols_read) end = view_tables(&r);
  if (end == symbols_read) end = read_relocations(&r);
  if (end == symbols_read) version_highs(&r), end = keep_symbols(&r);
  free_reading(&r);
  if (end == symbols_unread) object->symbols_unread = true;
  return end != symbols_refused;
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
        ((load.flags & pf_x) && load.file_size == 0))
      return false;
    const load_segment* before = i ? &elf.loads[i - 1] : nullptr;
    if (before && (load.address < before->address || load.address - before->address < before->memory_size))
      return false;
  }
  return elf.load_count > 0;
}

// The identification and the file header, in the order glibc tests them:
// another class is passed over, every other difference refused. Whether
// the loader goes on to the program headers.
bool check_header(const elf_image& elf, const unsigned char* header, loaded_object* object) {
  binary_file* file = elf.file;
  const int own_class = elf.wide ? elfclass64 : elfclass32;
  const int elf_class = header[ei_class], byte_order = header[ei_data];
  file->big_endian = byte_order == elfdata2msb;
  // Every architecture this tool is built for is little-endian.
  object->arch = file->big_endian ? arch_other : elf_arch(elf_class, get16(*file, header + e_machine));
  if (elf_class != own_class) {
    if (elf_class == elfclass32 || elf_class == elfclass64) object->state = object_other_arch;
    return false;
  }
  if (byte_order != elfdata2lsb) {
    if (byte_order == elfdata2msb) object->state = object_foreign;
    return false;
  }
  const int osabi = header[ei_osabi], abi_version = header[ei_abiversion];
  static const unsigned char padding[7] = {};
  if (header[ei_version] != ev_current || (osabi != elfosabi_sysv && osabi != elfosabi_gnu) ||
      (abi_version != 0 && !(osabi == elfosabi_gnu && abi_version < 4)) ||
      memcmp(header + ei_pad, padding, sizeof padding) != 0 || get32(*file, header + e_version) != ev_current)
    return false;
  if (get16(*file, header + e_machine) != own_machine()) {
    object->state = object_other_arch;
    return false;
  }
  const unsigned entry_size = elf.wide ? elf64_phdr_size : elf32_phdr_size;
  return get16(*file, header + e_type) == et_dyn &&
         get16(*file, header + (elf.wide ? elf64_e_phentsize : elf32_e_phentsize)) == entry_size;
}

// The program headers: the loadable segments, and the dynamic section's
// address and size in the file (the last one counts; glibc finds none at
// address 0 or of no size in the file). False where they cannot be read.
bool read_segments(elf_image* elf, const unsigned char* header, uint64_t* dynamic_address, uint64_t* dynamic_size) {
  const binary_file& file = *elf->file;
  const bool wide = elf->wide;
  const size_t entry_size = wide ? elf64_phdr_size : elf32_phdr_size;
  const uint64_t headers_at = word(*elf, header + (wide ? elf64_e_phoff : elf32_e_phoff));
  const unsigned count = get16(file, header + (wide ? elf64_e_phnum : elf32_e_phnum));
  unsigned char* headers = static_cast<unsigned char*>(malloc(count * entry_size + 1));
  elf->loads = static_cast<load_segment*>(malloc(sizeof(load_segment) * (count + 1)));
  bool ok = headers && elf->loads && read_bytes(elf->file, headers_at, headers, count * entry_size);
  for (unsigned i = 0; ok && i < count; ++i) {
    const unsigned char* at = headers + i * entry_size;
    const uint32_t type = get32(file, at + p_type);
    const uint64_t offset = word(*elf, at + (wide ? elf64_p_offset : elf32_p_offset));
    const uint64_t address = word(*elf, at + (wide ? elf64_p_vaddr : elf32_p_vaddr));
    const uint64_t file_size = word(*elf, at + (wide ? elf64_p_filesz : elf32_p_filesz));
    const uint64_t memory_size = word(*elf, at + (wide ? elf64_p_memsz : elf32_p_memsz));
    const uint32_t flags = get32(file, at + (wide ? elf64_p_flags : elf32_p_flags));
    if (type == pt_load) elf->loads[elf->load_count++] = {address, offset, file_size, memory_size, flags};
    else if (type == pt_dynamic) *dynamic_address = address, *dynamic_size = file_size;
  }
  free(headers);
  return ok;
}

}  // namespace

void read_elf_object(binary_file* file, object_table* table, loaded_object* object) {
  elf_image elf{};
  elf.file = file;
  elf.table = table;
  elf.wide = sizeof(void*) == 8;
  unsigned char header[elf64_ehdr_size];
  object->state = object_not_a_library;
  if (!read_bytes(file, 0, header, elf.wide ? elf64_ehdr_size : elf32_ehdr_size) || memcmp(header, "\177ELF", 4) != 0 ||
      !check_header(elf, header, object))
    return;
  uint64_t dynamic_address = 0, dynamic_size = 0;
  dynamic_info info{};
  if (read_segments(&elf, header, &dynamic_address, &dynamic_size) && check_segments(elf, file->size) &&
      dynamic_address != 0 && dynamic_size != 0 && read_dynamic(&elf, dynamic_address, object, &info) && !elf.failed &&
      read_symbols(&elf, info, get16(*file, header + e_machine), object))
    object->state = object_loadable;
  else if (elf.too_large) object->state = object_not_followed;
  free(elf.loads);
}

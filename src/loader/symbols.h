// What the model keeps of a library's symbols, to bind them as its loader
// does: of ELF, the symbol table as glibc's hash table reaches it and the
// symbols its relocations bind; of PE, its exports and the functions it
// imports of each DLL. One block of memory a library, read once a run.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

// An ELF symbol, as far as binding asks.
struct elf_symbol {
  uint32_t name;  // in the string table
  uint8_t info, other;
  uint16_t section;
  bool valued;  // a value other than 0
};

// A symbol that a relocation binds, as read with the file: its name, its
// version index, whether it is weak, and whether the relocation is of the
// class of the procedure linkage table's (which takes no undefined symbol
// for a definition); or a relocation of a type the loader does not know,
// where it stops.
struct elf_reference {
  uint32_t name;
  uint16_t version;
  uint8_t plt : 1, weak : 1, unknown_type : 1;
};

// A version index of the file's, as glibc builds them from its
// requirements and definitions: names in the pool; file 0 for its own.
struct elf_version {
  uint32_t name, hash, file;
  bool hidden;
};

enum hash_kind : uint8_t { no_hash, sysv_hash, gnu_hash };

// One of a file's tables as its loader's memory holds it, read where a
// lookup reaches it: from bytes (the stretch of the file read for the
// tables), those from floor to file_length are the file's, then zeros to
// memory_length (the rest of the table's segment in memory, where the
// stretch reaches its end); start is where the table starts. Past those
// lies memory the file does not show, or that was not read.
struct image_view {
  const unsigned char* bytes;
  uint64_t start, floor, file_length, memory_length;
};

// The n bytes (at most 8, little-endian: the model maps no other ELF) at
// an offset from the table's start; false past its segment.
inline bool view_value(const image_view& v, int64_t offset, unsigned n, uint64_t* value) {
  const uint64_t at = v.start + static_cast<uint64_t>(offset);
  if ((offset < 0 ? uint64_t(-offset) > v.start - v.floor : at < v.floor) || at > v.memory_length ||
      n > v.memory_length - at)
    return false;
  *value = 0;
  if (std::endian::native == std::endian::little && at + n <= v.file_length) {
    // Of a size the compiler knows: a load, not a call.
    if (n == 8) return memcpy(value, v.bytes + at, 8), true;
    if (n == 4) return memcpy(value, v.bytes + at, 4), true;
    if (n == 2) return memcpy(value, v.bytes + at, 2), true;
  }
  for (unsigned i = 0; i < n && at + i < v.file_length; ++i) *value |= uint64_t{v.bytes[at + i]} << (8 * i);
  return true;
}

struct elf_symbols {
  // The hash table glibc reads: GNU's where the file has one. Its words
  // are read in place (views from its header), as are the symbols, their
  // names and their version indices.
  hash_kind hash;
  bool wide;
  uint32_t bucket_count, symbol_offset, bloom_words, bloom_shift;
  uint32_t chain_count;  // SysV's
  // GNU's bloom filter, read where it is small (every lookup reads it, and
  // most end there), else null: read in place, a word a lookup.
  const uint64_t* bloom;
  image_view hash_table, symbols, strings, symbol_versions;
  // Whether the file's symbols carry version indices (DT_VERSYM, with
  // versions past its base): the version of each, as glibc builds them
  // from its requirements and definitions.
  bool versioned;
  const elf_version* versions;
  uint32_t version_count;
  const elf_reference* references;
  uint32_t reference_count;
};

// The symbol at an index: false where it lies past its segment.
bool symbol_at(const elf_symbols& t, uint32_t index, elf_symbol* symbol);

// Whether the string at an offset of the string table is name: a string
// past its segment is no name.
bool name_is(const elf_symbols& t, uint32_t offset, const char* name);

// The string at an offset of the string table, in place where the file
// holds its end, else copied into spare (cap bytes; "" past the segment).
const char* text_at(const elf_symbols& t, uint32_t offset, char* spare, size_t cap);

// A symbol's version index (0 where the file names none); false past its
// segment.
bool version_index_at(const elf_symbols& t, uint32_t index, uint16_t* version);

// A function a DLL imports: by name (in the block's strings), with the
// hint where the name should stand in the exporting DLL's names, or by
// ordinal.
struct pe_import {
  uint32_t name;
  uint16_t hint_or_ordinal;
  bool by_ordinal;
};

// What binding needs of a DLL: its exports (by ordinal, from base on, and
// by name, in the directory's order, which should be sorted) and, for each
// DLL it imports (in the order it names them), the functions it imports.
struct pe_exports {
  uint32_t base, function_count, name_count;
  const uint32_t* functions;   // addresses (RVA); 0: none
  const uint32_t* forwarders;  // of each function, its forwarder's text in the strings; 0: none
  const uint32_t* names;       // in the strings
  const uint16_t* name_functions;
  const pe_import* imports;
  uint32_t import_count;
  const uint32_t* first_import;  // of each DLL it imports, then the import count
  uint32_t imported_dll_count;
  const char* strings;
};

// The symbols of one library: its block and what points into it.
struct object_symbols {
  unsigned char* block;
  // What the tables point into: the file's mapping, or, where it could not
  // be mapped, copies of the segments that hold them.
  platform_mapping mapping;
  unsigned char* copies;
  elf_symbols elf;
  pe_exports pe;
};

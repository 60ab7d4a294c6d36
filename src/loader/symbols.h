// What the model keeps of a library's symbols, to bind them as its loader
// does: of ELF, the symbol table as glibc's hash table reaches it and the
// symbols its relocations bind; of PE, its exports and the functions it
// imports of each DLL. One block of memory a library, read once a run.
#pragma once

#include <cstddef>
#include <cstdint>

// An ELF symbol, as far as binding asks.
struct elf_symbol {
  uint32_t name;  // in the string table
  uint8_t info, other;
  uint16_t section;
  bool valued;  // a value other than 0
};

// A symbol that a relocation binds: its index, and whether the relocation
// is of the class of the procedure linkage table's (which takes no
// undefined symbol for a definition); or a relocation of a type the loader
// does not know, where it stops.
struct elf_reference {
  uint32_t symbol;
  bool plt;
  bool unknown_type;
};

// A version index of the file's, as glibc builds them from its
// requirements and definitions: names in the pool; file 0 for its own.
struct elf_version {
  uint32_t name, hash, file;
  bool hidden;
};

enum hash_kind : uint8_t { no_hash, sysv_hash, gnu_hash };

struct elf_symbols {
  // The hash table glibc reads: GNU's where the file has one.
  hash_kind hash;
  uint32_t bucket_count, symbol_offset, bloom_words, bloom_shift;
  const uint64_t* bloom;
  const uint32_t* buckets;
  // GNU: from symbol_offset on, after the chains_before words glibc reads
  // before them for a bucket below symbol_offset (its other tables'
  // words, as they lie in memory); SysV: from 0.
  const uint32_t* chains;
  uint32_t chain_count, chains_before;
  const elf_symbol* symbols;
  uint32_t symbol_count;
  // The version index of each symbol (DT_VERSYM); null where the file
  // names no versions.
  const uint16_t* symbol_versions;
  const elf_version* versions;
  uint32_t version_count;
  const char* strings;
  uint32_t strings_size;
  const elf_reference* references;
  uint32_t reference_count;
};

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
  elf_symbols elf;
  pe_exports pe;
};

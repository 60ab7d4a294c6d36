// What the loader model keeps of each library file it reads: enough to
// decide whether the loader would take it, where it looks for what it
// needs, and which symbol versions it needs and defines. Strings live in
// one pool for the run and are named by their offset in it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binary_file.h"

enum library_arch { arch_x86, arch_x64, arch_arm64, arch_arm, arch_other };

// The architecture this program is built for.
library_arch program_arch();

enum object_state {
  object_loadable,
  // Built for another architecture, in a way the loader passes over when
  // it searches.
  object_other_arch,
  // Built for another architecture, refused outright.
  object_foreign,
  object_not_a_library,
  object_unreadable,
};

struct loaded_object {
  uint64_t identity[2];
  object_state state;
  library_arch arch;
  // Pool offsets; 0 is the empty string, and stands for "none" too.
  uint32_t path;
  uint32_t soname;
  uint32_t rpath;
  uint32_t runpath;
  bool has_runpath;
  bool no_default_folders;
  // The names of the libraries it needs, NUL-separated.
  uint32_t needed;
  uint32_t needed_count;
  // Its symbol version requirements and definitions, in their tables.
  uint32_t first_need, need_count;
  uint32_t first_definition, definition_count;
};

// A symbol version one file requires of another, or one a file defines.
struct symbol_version {
  uint32_t file;  // requirements only: the file's name as the requiring file writes it
  uint32_t name;
  uint32_t hash;
  bool weak;
};

// The run's string pool: appends text (length bytes and a NUL) and returns
// its offset; 0 when the pool is full.
uint32_t pool_add(const char* text, size_t length);
const char* pool_text(uint32_t offset);

// Appends a symbol version; false when the table is full.
bool add_symbol_version(const symbol_version& version);
const symbol_version& symbol_version_at(uint32_t index);
uint32_t symbol_version_count();

// Readers of the three formats: fill the object from the file's headers
// (its state and, when loadable, what it needs). The file is open, its
// path in the pool already.
void read_elf_object(binary_file* file, loaded_object* object);
void read_pe_object(binary_file* file, loaded_object* object);
void read_macho_object(binary_file* file, loaded_object* object);

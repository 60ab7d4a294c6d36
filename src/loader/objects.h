// The run's table of library files: each file read once, known by its
// identity, with what the loader decides by; their names in one pool, named
// by offset; the symbol versions they require and define.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "loader/binary_file.h"
#include "loader/symbols.h"
#include "loader/verdict.h"

enum object_state {
  object_loadable,
  // Built for another architecture, in a way the loader passes over when
  // it searches.
  object_other_arch,
  // Built for another architecture, refused outright.
  object_foreign,
  object_not_a_library,
  object_unreadable,
  // Past one of the model's limits: not read to the end, so no word but
  // "not-followed" may be said of it.
  object_not_followed,
};

// How a folder list a library names (its RPATH or RUNPATH) was read: the
// loader reads it only when it searches, and a list that cannot be read
// then ends the process (or was too long to follow).
enum folder_list_state : uint8_t { list_read, list_unmapped, list_too_long };

// What the model keeps of a library file: enough to decide whether the
// loader would take it, where it looks for what it needs, and which symbol
// versions it needs and defines.
struct loaded_object {
  uint64_t identity[2];
  object_state state;
  library_arch arch;
  // Pool offsets; 0 is the empty string, and stands for "none" too.
  uint32_t path;
  uint32_t soname;
  uint32_t rpath;
  uint32_t runpath;
  folder_list_state rpath_state, runpath_state;
  bool has_runpath;
  bool no_default_folders;
  // Whether its version tables would end the loader's check of them (a
  // table it cannot read, a requirement of a version it does not know).
  bool damaged_versions;
  // The load it is in, by the number of that load in the run, and its
  // entry there.
  uint32_t load_mark, load_entry;
  // Its symbols (in the table's), -1 where it has none read; and whether
  // the symbols binding needs could not all be read (not followed).
  int32_t symbols;
  bool symbols_unread;
  // Whether every reference it makes was bound in an earlier load by
  // itself, the libraries it needs or the process's: then it binds in any
  // load where its needs are the same files (kept from bound_needs on).
  bool bound_alone;
  uint32_t bound_needs;
  // The names of the libraries it needs, NUL-separated.
  uint32_t needed;
  uint32_t needed_count;
  // Its symbol version requirements and definitions, in their table.
  uint32_t first_need, need_count;
  uint32_t first_definition, definition_count;
};

// A symbol version one file requires of another, or one a file defines.
struct symbol_version {
  uint32_t file;  // requirements only: the file's name as the requiring file writes it
  uint32_t name;
  uint32_t hash;
  bool weak;
  // Definitions only: of a kind of record the loader does not know (or
  // cannot read), which ends a check that reaches it.
  bool unsupported;
  // The version's index (vna_other, vd_ndx) and, of a definition, whether
  // it is the file's own name (VER_FLG_BASE).
  uint16_t index;
  bool base;
};

// An index from byte strings kept in the pool to numbers: open addressing,
// grown as it fills.
struct index_slot {
  uint32_t hash, key, length;
  int32_t value;
};
struct name_index {
  index_slot* slots;
  uint32_t capacity, count;
};

struct object_table {
  char* pool;
  size_t pool_used, pool_size;
  loaded_object* objects;
  uint32_t count, size;
  symbol_version* versions;
  uint32_t version_count, version_size;
  // What each path opened so far gave (an object or a failure), and each
  // file's object by its identity: a path answered costs nothing again.
  name_index by_path, by_identity;
  read_room room;
  // What reading a file's symbols works with, reused file after file.
  read_room scratch;
  object_symbols* symbols;
  uint32_t symbols_count, symbols_size;
};

// Opening a file past the run's limit of files: not followed.
constexpr int object_limit = -9;

// Appends text (length bytes and a NUL) to the pool and returns its
// offset; 0 when the pool is full.
uint32_t add_name(object_table* table, const char* text, size_t length);
const char* name_at(const object_table& table, uint32_t offset);

// The number a key stands for, or null.
int32_t* find_in_index(const name_index& index, const object_table& table, const void* key, size_t length);
// Adds a key (copied into the pool); false when it cannot be held.
bool add_to_index(name_index* index, object_table* table, const void* key, size_t length, int32_t value);
// Forgets every key, keeping the room.
void empty_index(name_index* index);

// Keeps a library's symbols (their block now the table's): their index, or
// -1 when the table is full.
int32_t add_symbols(object_table* table, const object_symbols& symbols);

// Appends a symbol version; false when the table is full.
bool add_symbol_version(object_table* table, const symbol_version& version);

// A reader of one format: fills the object from the file's headers (its
// state and, when loadable, what it needs). The file is open, its path in
// the pool already.
typedef void (*object_reader)(binary_file* file, object_table* table, loaded_object* object);

// Opens a file and reads it, once per file and run: the object's index, or
// the platform's failure (file_missing, file_denied, file_unreadable), or
// object_limit. The answer for a path is remembered for the run.
int open_object(object_table* table, const char* path, object_reader read);

// Frees everything the table holds.
void clear_objects(object_table* table);

// Grows a heap array so that it holds one more; false at the limit.
template <typename T>
inline bool make_room(T** array, uint32_t count, uint32_t* size, uint32_t limit) {
  if (count < *size) return true;
  if (count >= limit) return false;
  const uint32_t larger = *size == 0 ? 8 : (*size > limit / 2 ? limit : *size * 2);
  T* grown = static_cast<T*>(realloc(*array, size_t{larger} * sizeof(T)));
  if (!grown) return false;
  *array = grown;
  *size = larger;
  return true;
}

// glibc's dynamic loader (ld.so), one of its jobs a file, each named after
// glibc's own: the search (glibc_search.cc, as dl-load.c), the check of
// symbol versions (glibc_versions.cc, as dl-version.c), the lookup of a
// symbol (glibc_lookup.cc, as dl-lookup.c and dlsym) and the binding of a
// load's relocations (glibc_binding.cc, as dl-reloc.c in dl-sort-maps.c's
// order). glibc.cc puts them together as the loader's rules.
#pragma once

#include <cstddef>
#include <cstdint>

#include "loader/rules.h"

// Searches a bare name that a library of the load needs (entry), or that
// the Driver Manager asks for (-1), in glibc's order.
search_end glibc_search(loader_state& state, search* s, int entry);

// A name a library needs (entry), its tokens expanded against its folder,
// as glibc reads every name it needs; a token without a value drops it.
needed_name glibc_read_needed(loader_state& state, int entry, char* name, size_t cap);

// glibc's check of the symbol versions the load's libraries require: false,
// the verdict written, where glibc ends the process.
bool check_versions(loader_state& state, library_verdict* verdict);

// The hashes glibc finds a name by: GNU's, and the System V one.
uint32_t gnu_hash_of(const char* name);
uint32_t sysv_hash_of(const char* name);

// A name to look up, as glibc looks it up.
struct wanted {
  const char* name;
  uint32_t gnu;
  // The version the referring file requires (null: none), where it names
  // it and the object found by that name, and whether it asks for a
  // hidden one.
  const char* version;
  uint32_t version_hash;
  const char* version_file;
  int version_object;
  bool hidden;
  // Of a relocation of the procedure linkage table's class; for the
  // Driver Manager's lookup (dlsym), the newest version.
  bool plt, newest;
};

// How a lookup in one object ended: on to the next, a definition found,
// glibc's assertion ending the process, tables the model did not read (or
// memory past what the file shows), the file cut under the run.
enum lookup_end { lookup_on, lookup_found, lookup_process_ends, lookup_tables_unread, lookup_file_cut };

// glibc's lookup in one object (do_lookup_x, check_match); chosen, where
// given, receives the index of the symbol found.
lookup_end look_in(loader_state& state, int index, const wanted& w, uint32_t* chosen = nullptr);

// Reads the objects of this process, in the order its loader loaded them:
// the first part of every lookup's scope.
void read_process_objects(loader_state& state);

// Looks a name up in the scope: the process's objects, then the load's;
// where is the object the lookup ended in.
lookup_end look_up(loader_state& state, const wanted& w, int* where);

// Whether the Driver Manager's lookup of a name (dlsym) finds a function
// in the library's load that is not its own library's.
bool gives_entry_point(loader_state& state, const char* name, const char* own_library);

// glibc's binding of every symbol a relocation of the load binds: false,
// the verdict written, where one cannot be bound.
bool bind_symbols(loader_state& state, library_verdict* verdict);

// What sets one loader apart, as a table of rules each of the three fills:
// glibc.cc (glibc's ld.so), windows.cc (Windows' LoadLibrary), dyld.cc
// (macOS's dyld). The walk in loader.cc follows whichever is this
// process's.
#pragma once

#include <cstddef>

#include "loader/search.h"

// What became of a name a library needs, read as the loader reads it:
// kept (perhaps rewritten), dropped, too long for any file, had by no file
// the loader would look for, or past what the tool follows.
enum needed_name { name_kept, name_dropped, name_too_long, name_missing, name_not_followed };

struct loader_rules {
  loader_traits traits;
  // Whether the loader takes a name as a path rather than searching for it.
  bool (*is_path)(const char* name);
  // Spells a bare name as the loader looks for it; null: as it is.
  void (*spell)(char* name, size_t cap);
  // Reads a name that a library of the load (entry) needs as the loader
  // does (expanding its tokens). Null: as it stands.
  needed_name (*read_needed)(loader_state& state, int entry, char* name, size_t cap);
  // Whether the loader has a name without a file; null: never.
  bool (*built_in)(const char* name);
  // Searches a bare name that a library of the load needs (entry), or that
  // the Driver Manager asks for (-1).
  search_end (*search)(loader_state& state, search* s, int entry);
  // What the loader checks once everything is mapped (false, the word
  // written, where the load fails); null: nothing.
  bool (*check_load)(loader_state& state, library_verdict* verdict);
  // Whether the Driver Manager's lookup of a name in the library finds it,
  // not in its own library (own_library, where not empty).
  bool (*gives_entry_point)(loader_state& state, const char* name, const char* own_library);
};

// The verdict of kind for a library of the load (entry; 0 the library
// itself) that ends the load: of the library itself, or of what its loader
// needed by that name. Its road ends at the library that needed it.
void blame_entry(loader_state& state, int entry, verdict_kind kind, library_verdict* verdict);

// Loads a DLL that a library of the load (entry) needs beyond the names
// it lists (a forwarder's), as the walk loads those, with all it needs:
// its object, or -1 where any of that cannot be had.
int load_more(loader_state& state, const char* name, int entry);

extern const loader_rules glibc_rules;
extern const loader_rules windows_rules;
extern const loader_rules dyld_rules;

// The rules of this process's own loader: native-glibc.cc,
// native-windows.cc or native-dyld.cc, the one the build links, so that a
// program holds no other loader's rules.
const loader_rules& native_rules();

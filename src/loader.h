// The loader's model, behind the check: what the loaders of the three
// formats share is in loader.cc, what sets them apart in one set of rules
// each: loader_elf.cc (glibc), loader_pe.cc (Windows), loader_macho.cc
// (dyld). The platform names the one of this process.
#pragma once

#include <cstddef>
#include <cstdint>

#include "library_check.h"
#include "loaded_object.h"

enum : size_t { path_capacity = 4096 };

// One library of a load: the object, the path it was found by, the name
// it was asked for by, and the entry of the library that needed it (-1:
// the Driver Manager). The load's first entry is the library itself.
struct load_entry {
  int object;
  uint32_t found_as;
  uint32_t requested;
  int loader;
};
extern load_entry load[];
extern int load_count;

const loaded_object& object_at(int index);

// A search for one name, and how it ended.
enum search_end { search_on, search_found, search_failed };
struct search {
  const char* name;
  int object;
  object_state failure;
  char found_as[path_capacity];
  // The first file of another architecture the loader passed over.
  bool passed_over;
  library_arch other_arch;
  char other_file[path_capacity];
};

// A candidate file: a search passes over what is missing, what it may not
// read and what is built for another architecture in a way the loader
// passes over; a file named by its path is taken as it is.
search_end try_candidate(search* s, const char* path, bool searching = true);

// Tries the name in each folder of a list, split at any of separators: in
// each, first in every subfolder of subfolders (NUL-separated, closed by
// an empty one; null: none), then in the folder itself. $ORIGIN stands for
// origin. An empty folder is the current one where empty_is_current, else
// it is dropped.
search_end try_folders(search* s, const char* list, const char* separators, const char* origin, const char* subfolders,
                       char slash, bool empty_is_current);

// The folder of a path: "." for a bare name, "/" for the root.
void folder_of(const char* path, char slash, char* folder, size_t cap);

// Copies text, cut to fit cap.
void copy_text(char* to, const char* from, size_t cap);

// Whether two module names are the same, without regard to ASCII case, as
// Windows compares them; the file name of a path.
bool same_module(const char* a, const char* b);
const char* base_name(const char* path);

// The object of this load or of the process that answers to a name; -1
// when none does.
int loaded_object_named(const char* name);

// Appends a name from a file to a word: at most 255 bytes, control
// characters as '?', so that it cannot break a line.
void append_name(char* word, size_t cap, const char* name);

// What sets one format's loader apart.
struct loader_rules {
  void (*read)(binary_file* file, loaded_object* object);
  char slash;
  // Whether names are compared by their file name, without regard to case.
  bool ignore_case;
  // Whether the loader takes a name as a path rather than searching for it.
  bool (*is_path)(const char* name);
  // Spells a bare name as the loader looks for it; null: as it is.
  void (*spell)(char* name, size_t cap);
  // Whether the loader has a name without a file; null: never.
  bool (*built_in)(const char* name);
  // Searches a bare name that a library of the load needs (entry), or that
  // the Driver Manager asks for (-1).
  search_end (*search)(search* s, int entry);
  // What the loader checks once everything is mapped; null: nothing.
  void (*check_load)(library_verdict* verdict);
  // Forgets what the rules keep for a run.
  void (*forget)();
};

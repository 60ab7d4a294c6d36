// A search for one library name through the places a loader looks:
// candidates tried in order until one ends it.
#pragma once

#include "loader/paths.h"
#include "loader/state.h"

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
  // Whether the last candidate tried was missing.
  bool candidate_missing;
  // The entry of the load to blame for a failure that is not the found
  // file's (a folder list of its that ends the loader); -1: none.
  int blamed;
};

// A search for name, nothing tried yet.
void start_search(search* s, const char* name);

// A candidate file: a search passes over what is missing, what it may not
// read and what is built for another architecture in a way the loader
// passes over; a file named by its path (not searching) is taken as it is.
search_end try_candidate(loader_state& state, search* s, const char* path, bool searching = true);

// A list of folders the loader searches, as one of its places names them.
struct folder_list {
  const char* folders;
  // The characters that separate the folders.
  const char* separators;
  // What $ORIGIN stands for in them; null: it has no value.
  const char* origin;
  // The subfolders tried in each folder before the folder itself, each
  // ending in '/', NUL-separated and closed by an empty one; null: none.
  const char* subfolders;
  // Whether an empty folder is the current one; else it is dropped.
  bool empty_is_current;
};

// Tries the name in each folder of the list, in order. Folders found
// missing are remembered for the run and not tried again.
search_end try_folders(loader_state& state, search* s, const folder_list& list);

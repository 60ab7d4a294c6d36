// The state of a run of the loader's model, in one object with one reset:
// the files read, the load being walked, the verdicts already given, and
// what the loaders' rules keep for the run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "loader/objects.h"

struct loader_rules;

// What the run's own parts ask of its loader's rules: how the loader reads
// a file and how it names files.
struct loader_traits {
  // Reads a file of the loader's format.
  object_reader read;
  char slash;
  // Whether names are compared by their file name, without regard to case.
  bool ignore_case;
  // Whether a search ends at a file it finds but may not open (a folder, a
  // file it has no right to), where otherwise it goes on.
  bool stops_at_unopenable;
};

// Libraries in one load, beyond which a load is not followed.
enum : uint32_t { max_load = 1 << 16 };

// One library of a load: the object, the path it was found by, the name
// it was asked for by, and the entry of the library that needed it (-1:
// the Driver Manager). The load's first entry is the library itself. One
// the process had loaded before is in the load's scope, but neither
// checked nor bound again, nor are its needs followed.
struct load_entry {
  int object;
  uint32_t found_as;
  uint32_t requested;
  int loader;
  bool in_process;
};

// An object this process has loaded: its path, and its object once read
// (-1 before).
struct process_object {
  uint32_t path;
  int object;
};

// What an earlier walk of the run said, by the library and its folder: its
// verdict, names and lists in the pool (the lists' lengths in bytes).
struct remembered_verdict {
  int object;
  uint32_t folder;
  verdict_kind kind;
  library_arch arch;
  bool has_subject, has_detail;
  uint32_t subject, detail, road, road_length, searched, searched_length, have, have_length;
};

// What glibc's rules keep for a run: its cache, read whole once (empty
// when missing; too_large when over the limit, and not followed), and the
// names of the glibc-hwcaps subfolders the process searches, best first.
struct glibc_memory {
  unsigned char* cache;
  size_t cache_size;
  bool cache_read, cache_too_large;
  char hwcaps[1024];
  bool hwcaps_made;
  // The libraries each library bound alone needed, as they were found
  // then (see loaded_object::bound_alone).
  int32_t* bound_needs;
  uint32_t bound_needs_count, bound_needs_size;
};

// What Windows' rules keep for a run: the API set schema of the system
// folder, read once (null where there is no schema file; unreadable where
// there is one that cannot be read).
struct windows_memory {
  unsigned char* schema;
  size_t schema_size;
  bool schema_read, schema_unreadable;
};

struct loader_state {
  // The rules of this process's loader, and their traits.
  const loader_rules* rules;
  loader_traits traits;
  object_table objects;
  // The load being walked, its number in the run, and the names its
  // libraries answer to.
  load_entry* load;
  uint32_t load_count, load_size;
  uint32_t load_number;
  name_index answers;
  remembered_verdict* remembered;
  uint32_t remembered_count, remembered_size;
  // The objects this process has loaded and the names they answer to (its
  // path, its SONAME), each object read when a name first finds it.
  bool process_objects_listed;
  name_index process_answers;
  process_object* process_objects;
  uint32_t process_object_count, process_object_size;
  // Folders searched: 1 where one exists, 0 where none does.
  name_index folders;
  glibc_memory glibc;
  windows_memory windows;
  // The entry of the load whose need failed (-1: none), and the places the
  // last search tried, as a verdict's list.
  int road_end;
  char trail[8192];
  // The bytes the trail holds, its closing NUL aside; whether it was cut;
  // its entries by hash (each one's offset plus one; 0: none), so that a
  // place already noted costs no walk of the list.
  uint32_t trail_used;
  bool trail_cut;
  uint16_t trail_places[1024];
  // Where the words of loads beyond the listed names (a forwarder's DLL)
  // go, unread.
  library_verdict scratch;
};

// Frees what the state holds and leaves it as at the start of a run.
void reset_loader_state(loader_state* state);

inline const loaded_object& object_at(const loader_state& state, int index) { return state.objects.objects[index]; }
const char* name_at(const loader_state& state, uint32_t offset);

// Starts a new load in the state, holding nothing yet.
void start_load(loader_state* state);

// Starts the trail of a search; notes a place it tries (length bytes).
void start_trail(loader_state* state);
void add_to_trail(loader_state* state, const char* place, size_t length);

// Adds a library to the load: false past the limit.
bool add_to_load(loader_state* state, int object, const char* found_as, const char* requested, int loader,
                 bool in_process = false);

// The object of this load or of the process that answers to a name: on
// ELF the name it was asked for, its path or its SONAME; on Windows its
// file name, in any case. -1 when none does.
int loaded_object_named(loader_state& state, const char* name);
// Whether the load's object is the one of the load that answers to the
// name. The process's object of a SONAME is no other: the same file
// carries the same SONAME, which its entry in the load answers to.
bool object_answers_to(const loader_state& state, int object, const char* name);

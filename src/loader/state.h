// The state of a run of the loader's model, in one object with one reset:
// the files read, the load being walked, the verdicts already given, and
// what the loaders' rules keep for the run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "loader/objects.h"

struct loader_rules;

// Bounds: libraries in one load, objects this process has loaded.
enum : int { max_load = 1024, max_process_objects = 256 };

// One library of a load: the object, the path it was found by, the name
// it was asked for by, and the entry of the library that needed it (-1:
// the Driver Manager). The load's first entry is the library itself.
struct load_entry {
  int object;
  uint32_t found_as;
  uint32_t requested;
  int loader;
};

// What an earlier walk of the run said, by the library and its folder.
struct remembered_verdict {
  int object;
  uint32_t folder, word;
};

// What glibc's rules keep for a run: its cache, read whole once (empty
// when missing or too large), and the names of the glibc-hwcaps
// subfolders the process searches, best first.
struct glibc_memory {
  unsigned char* cache;
  size_t cache_size;
  bool cache_read;
  char hwcaps[1024];
  bool hwcaps_made;
};

struct loader_state {
  // The rules of this process's loader.
  const loader_rules* rules;
  object_table objects;
  load_entry load[max_load];
  int load_count;
  remembered_verdict* remembered;
  uint32_t remembered_count, remembered_size;
  // The objects this process has loaded, read on first use.
  bool process_objects_read;
  int process_objects[max_process_objects];
  int process_object_count;
  glibc_memory glibc;
};

// Frees what the state holds and leaves it as at the start of a run.
void reset_loader_state(loader_state* state);

const loaded_object& object_at(const loader_state& state, int index);
const char* name_at(const loader_state& state, uint32_t offset);

// The object of this load or of the process that answers to a name: on
// ELF the name it was asked for, its path or its SONAME; on Windows its
// file name, in any case. -1 when none does.
int loaded_object_named(loader_state& state, const char* name);

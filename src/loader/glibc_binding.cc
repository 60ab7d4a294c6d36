// glibc's binding of a load (dl-reloc.c's _dl_relocate_object, in the
// order dl-sort-maps.c gives): every symbol a relocation binds looked up as
// dl-lookup.c does, library by library, each before those that need it.
#include <cstring>

#include "loader/formats.h"
#include "loader/glibc.h"

namespace {

// The objects each entry of the load needs, by the names it needs as the
// walk read them (-1 for a name dropped), all entries' in one array: the
// entry's first at first[entry].
struct load_needs {
  int32_t* objects;
  uint32_t* first;
};

bool find_needs(loader_state& state, load_needs* needs) {
  uint32_t total = 0;
  for (uint32_t i = 0; i < state.load_count; ++i) total += object_at(state, state.load[i].object).needed_count;
  needs->objects = static_cast<int32_t*>(malloc(sizeof(int32_t) * (total + 1)));
  needs->first = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (state.load_count + 1)));
  if (!needs->objects || !needs->first) return false;
  uint32_t at = 0;
  for (uint32_t entry = 0; entry < state.load_count; ++entry) {
    needs->first[entry] = at;
    const loaded_object& object = object_at(state, state.load[entry].object);
    uint32_t offset = object.needed;
    for (uint32_t k = 0; k < object.needed_count; ++k) {
      char name[path_capacity];
      const size_t length = strlen(name_at(state, offset));
      copy_text(name, name_at(state, offset), sizeof name);
      offset += static_cast<uint32_t>(length + 1);
      needs->objects[at++] = glibc_read_needed(state, static_cast<int>(entry), name, sizeof name) == name_kept
                                 ? loaded_object_named(state, name)
                                 : -1;
    }
  }
  return true;
}

// The order glibc relocates a load in: each library before those that
// need it (the reverse of its depth-first sort, from the last library of
// the breadth-first list to the first).
void relocation_order(loader_state& state, const load_needs& needs, uint32_t* order) {
  const uint32_t count = state.load_count;
  unsigned char* visited = static_cast<unsigned char*>(calloc(count, 1));
  uint32_t* stack = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * 2 * (count + 1)));
  uint32_t placed = count;
  for (uint32_t top = count; visited && stack && top-- > 0;) {
    if (visited[top]) continue;
    // Each frame: the entry, and how many of its needed names are taken.
    uint32_t depth = 0;
    stack[0] = top, stack[1] = 0, visited[top] = 1;
    while (true) {
      uint32_t& entry = stack[2 * depth];
      uint32_t& next = stack[2 * depth + 1];
      const uint32_t need_count = object_at(state, state.load[entry].object).needed_count;
      bool descended = false;
      for (; next < need_count && !descended;) {
        const int found_object = needs.objects[needs.first[entry] + next++];
        if (found_object < 0) continue;
        const loaded_object& dependency = object_at(state, found_object);
        if (dependency.load_mark != state.load_number || visited[dependency.load_entry]) continue;
        visited[dependency.load_entry] = 1;
        ++depth;
        stack[2 * depth] = dependency.load_entry, stack[2 * depth + 1] = 0;
        descended = true;
      }
      if (descended) continue;
      order[--placed] = entry;
      if (depth-- == 0) break;
    }
  }
  free(visited), free(stack);
  // Relocated last to first.
  for (uint32_t i = 0; i < count / 2; ++i) {
    const uint32_t kept = order[i];
    order[i] = order[count - 1 - i], order[count - 1 - i] = kept;
  }
}

// The verdict for a symbol no object of the scope defines.
void undefined_verdict(const wanted& w, library_verdict* verdict) {
  set_verdict(verdict, verdict_undefined_symbol, w.name, w.version);
}

// The verdict for a lookup that reached tables the model did not read
// (not followed), or a file cut under the run (unreadable).
void unread_verdict(loader_state& state, int index, verdict_kind kind, library_verdict* verdict) {
  const loaded_object& object = object_at(state, index);
  if (object.load_mark == state.load_number)
    return blame_entry(state, static_cast<int>(object.load_entry), kind, verdict);
  set_verdict(verdict, kind, base_name(name_at(state, object.path)));
}

// Whether an object bound alone in an earlier load binds alone here: the
// names it needs find the same files.
bool binds_as_before(const loader_state& state, const loaded_object& object, const int32_t* needs) {
  return object.bound_alone &&
         memcmp(needs, state.glibc.bound_needs + object.bound_needs, object.needed_count * sizeof(int32_t)) == 0;
}

// Whether a reference finds a definition near the object that makes it:
// in the file its version names, the object itself, what it needs (where
// a linker found it), the process's objects. Whether a lookup succeeds
// does not depend on the order of the scope, which only picks among
// definitions, save where glibc's assertion ends the process or tables
// went unread: then the lookup in glibc's order decides.
bool found_near(loader_state& state, const wanted& w, int index, const int32_t* needs, uint32_t need_count) {
  if (w.version_object >= 0) {
    const lookup_end end = look_in(state, w.version_object, w);
    if (end != lookup_on) return end == lookup_found;
  }
  if (look_in(state, index, w) == lookup_found) return true;
  for (uint32_t k = 0; k < need_count; ++k)
    if (needs[k] >= 0 && look_in(state, needs[k], w) == lookup_found) return true;
  for (uint32_t i = 0; i < state.process_object_count; ++i)
    if (state.process_objects[i].object >= 0 && look_in(state, state.process_objects[i].object, w) == lookup_found)
      return true;
  return false;
}

// The run's work for one binding: the order of relocation and what each
// entry needs, freed together.
struct binding_work {
  uint32_t* order;
  load_needs needs;
};

void free_work(binding_work* work) { free(work->order), free(work->needs.objects), free(work->needs.first); }

// Whether any object of the scope has tables the model did not read: then
// every lookup goes in glibc's order.
bool scope_unread(const loader_state& state) {
  for (uint32_t i = 0; i < state.process_object_count; ++i)
    if (state.process_objects[i].object >= 0 && object_at(state, state.process_objects[i].object).symbols_unread)
      return true;
  for (uint32_t i = 0; i < state.load_count; ++i)
    if (object_at(state, state.load[i].object).symbols_unread) return true;
  return false;
}

// A reference as glibc looks it up: its name (in place, or in spare) and
// the version its file's tables give it; the object of the version's file
// is kept across the references of one file (file, object).
struct reference_name {
  char spare[4096];
  uint32_t file;
  int object;
};

wanted wanted_for(loader_state& state, const elf_symbols& t, const elf_reference& reference, reference_name* kept) {
  wanted w{};
  w.name = text_at(t, reference.name, kept->spare, sizeof kept->spare);
  w.version_object = -1, w.plt = reference.plt != 0;
  const uint32_t at = reference.version & versym_index;
  if (at >= t.version_count || !t.versions[at].hash) return w;
  const elf_version& v = t.versions[at];
  w.version = name_at(state, v.name), w.version_hash = v.hash, w.hidden = v.hidden;
  w.version_file = v.file ? name_at(state, v.file) : nullptr;
  if (v.file && v.file != kept->file) kept->file = v.file, kept->object = loaded_object_named(state, w.version_file);
  w.version_object = v.file ? kept->object : -1;
  return w;
}

// Binds the references of the load's entry (one that has symbols): false,
// the verdict written, where one cannot be bound; alone is cleared where
// one was bound beyond the entry, what it needs and the process.
bool bind_entry(loader_state& state, uint32_t entry, const int32_t* needs, bool unread, bool* alone,
                library_verdict* verdict) {
  const int index = state.load[entry].object;
  const loaded_object& object = object_at(state, index);
  const elf_symbols& t = state.objects.symbols[object.symbols].elf;
  reference_name kept;
  kept.file = 0, kept.object = -1;
  for (uint32_t r = 0; r < t.reference_count; ++r) {
    const elf_reference& reference = t.references[r];
    if (reference.unknown_type)
      return blame_entry(state, static_cast<int>(entry), verdict_not_a_library, verdict), false;
    const bool weak = reference.weak != 0;
    wanted w = wanted_for(state, t, reference, &kept);
    // A weak reference binds whatever it finds, unless its version's file
    // ends the process.
    if (!unread && weak && w.version_object < 0) continue;
    w.gnu = gnu_hash_of(w.name);
    if (!unread && found_near(state, w, index, needs, object.needed_count)) continue;
    *alone = false;
    int where = index;
    const lookup_end end = look_up(state, w, &where);
    if (end == lookup_found || (end == lookup_on && weak)) continue;
    const bool lost = end == lookup_tables_unread || end == lookup_file_cut;
    if (lost) unread_verdict(state, where, end == lookup_file_cut ? verdict_unreadable : verdict_not_followed, verdict);
    else undefined_verdict(w, verdict);
    // Its road ends at the library that refers to the symbol (or needs the
    // one whose tables went unread).
    if (!lost || object_at(state, where).load_mark != state.load_number) state.road_end = static_cast<int>(entry);
    return false;
  }
  return true;
}

// Remembers that an object bound alone, with what its needs found.
void remember_bound_alone(loader_state& state, loaded_object& object, const int32_t* needs) {
  glibc_memory& memory = state.glibc;
  bool room = true;
  while (room && memory.bound_needs_count + object.needed_count >= memory.bound_needs_size)
    room = make_room(&memory.bound_needs, memory.bound_needs_size, &memory.bound_needs_size, uint32_t{1} << 24);
  if (!room) return;
  memcpy(memory.bound_needs + memory.bound_needs_count, needs, object.needed_count * sizeof(int32_t));
  object.bound_needs = memory.bound_needs_count, object.bound_alone = true;
  memory.bound_needs_count += object.needed_count;
}

// Binds the load in the order of relocation.
bool bind_in_order(loader_state& state, const binding_work& work, bool unread, library_verdict* verdict) {
  for (uint32_t n = 0; n < state.load_count; ++n) {
    const uint32_t entry = work.order[n];
    const int index = state.load[entry].object;
    loaded_object& object = state.objects.objects[index];
    if (state.load[entry].in_process) continue;
    if (object.symbols_unread) return unread_verdict(state, index, verdict_not_followed, verdict), false;
    const int32_t* needs = work.needs.objects + work.needs.first[entry];
    if (object.symbols < 0 || (!unread && binds_as_before(state, object, needs))) continue;
    bool alone = !unread;
    if (!bind_entry(state, entry, needs, unread, &alone, verdict)) return false;
    if (alone) remember_bound_alone(state, object, needs);
  }
  return true;
}

// Whether binding has work in the load: a library to bind that makes a
// reference, or whose tables went unread. Where none has, nothing is looked
// up, and the process's objects are not read.
bool binding_has_work(const loader_state& state) {
  for (uint32_t i = 0; i < state.load_count; ++i) {
    const loaded_object& object = object_at(state, state.load[i].object);
    if (state.load[i].in_process) continue;
    if (object.symbols_unread || (object.symbols >= 0 && state.objects.symbols[object.symbols].elf.reference_count))
      return true;
  }
  return false;
}

}  // namespace

// Library by library in the order glibc relocates them, each reference in
// its tables' order, each looked up in the process's objects and then in
// the load. A weak reference may find nothing. What was bound alone in an
// earlier load is not bound again.
bool bind_symbols(loader_state& state, library_verdict* verdict) {
  if (!binding_has_work(state)) return true;
  read_process_objects(state);
  const bool unread = scope_unread(state);
  binding_work work{static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (state.load_count + 1))), {}};
  bool bound = work.order && find_needs(state, &work.needs);
  if (!bound) {
    blame_entry(state, 0, verdict_not_followed, verdict);
  } else {
    relocation_order(state, work.needs, work.order);
    bound = bind_in_order(state, work, unread, verdict);
  }
  free_work(&work);
  return bound;
}

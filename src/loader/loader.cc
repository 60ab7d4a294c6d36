// The walk of a load, top to bottom: the library the Driver Manager asks
// for is found as this process's loader finds it, then what it needs,
// breadth first and each in the order it names them, as glibc maps them
// (Windows' loader follows the same order for what it imports); the first
// that cannot be had decides the word. Then what the loader checks of the
// whole load. What the loaders do differently is in their rules.
#include "loader/loader.h"

#include <cstring>

#include "loader/rules.h"
#include "platform/platform.h"

namespace {

// The kind of verdict for an object that the loader would not take.
verdict_kind failure_kind(object_state state) {
  switch (state) {
    case object_unreadable: return verdict_unreadable;
    case object_not_a_library: return verdict_not_a_library;
    case object_not_followed: return verdict_not_followed;
    case object_loadable:
    case object_other_arch:
    case object_foreign: break;
  }
  return verdict_mismatch;
}

// The verdict for a search that did not end with a loadable file: of the
// library itself (name null) or of a library it needs.
void failure_verdict(loader_state& run, const search& s, search_end end, const char* name, library_verdict* verdict) {
  if (s.blamed >= 0) {
    blame_entry(run, s.blamed, failure_kind(s.failure), verdict);
    return;
  }
  const verdict_kind kind = end == search_failed ? failure_kind(s.failure)
                            : s.passed_over      ? verdict_mismatch
                                                 : verdict_missing;
  // A name found nowhere: where it was looked for.
  for (const char* place = run.trail; kind == verdict_missing && *place; place += strlen(place) + 1) {
    char absolute[path_capacity];
    add_place(verdict->searched, sizeof verdict->searched,
              platform_absolute_path(place, absolute, sizeof absolute) ? absolute : place);
  }
  set_verdict(verdict, kind, name);
  verdict->arch = end == search_failed && s.object >= 0 ? object_at(run, s.object).arch : s.other_arch;
}

// Finds a name that a library of the load needs, as the loader would: a
// path as it stands, else by the loader's search.
search_end find_needed(loader_state& run, search* s, int entry) {
  const loader_rules& rules = *run.rules;
  return rules.is_path(s->name) ? try_candidate(run, s, s->name, false) : rules.search(run, s, entry);
}

// Maps a name that a library of the load (at) needs, as the loader does:
// its object where it is had (-1 where it needs none); false where it
// cannot be had, the word written.
bool map_needed(loader_state& run, uint32_t at, const char* written, library_verdict* verdict, int* object) {
  const loader_rules& rules = *run.rules;
  char name[path_capacity];
  const size_t length = strlen(written);
  copy_text(name, written, sizeof name);
  *object = -1;
  // No file has a name too long to open.
  needed_name read = length < sizeof name - 5 ? name_kept : name_too_long;
  if (read == name_kept && rules.read_needed) read = rules.read_needed(run, static_cast<int>(at), name, sizeof name);
  if (read == name_dropped) return true;
  if (rules.spell) rules.spell(name, sizeof name);
  if (read == name_kept && rules.built_in && rules.built_in(name)) return true;
  const int known = read == name_kept ? loaded_object_named(run, name) : -1;
  search s;
  start_search(&s, name);
  start_trail(&run);
  run.road_end = static_cast<int>(at);
  if (known >= 0 && object_at(run, known).load_mark != run.load_number &&
      !add_to_load(&run, known, name_at(run, object_at(run, known).path), name, static_cast<int>(at), true)) {
    s.failure = object_not_followed;
    failure_verdict(run, s, search_failed, name, verdict);
    return false;
  }
  if ((*object = known) >= 0) return true;
  if (read == name_not_followed) s.failure = object_not_followed;
  const search_end end = read == name_kept           ? find_needed(run, &s, static_cast<int>(at))
                         : read == name_not_followed ? search_failed
                                                     : search_on;
  if (end != search_found) {
    failure_verdict(run, s, end, name, verdict);
    return false;
  }
  *object = s.object;
  // A file already loaded under another name is taken again.
  if (object_at(run, s.object).load_mark == run.load_number) return true;
  if (!add_to_load(&run, s.object, s.found_as, name, static_cast<int>(at))) {
    s.failure = object_not_followed;
    failure_verdict(run, s, search_failed, name, verdict);
    return false;
  }
  return true;
}

// Maps what the loaded libraries from first on need, breadth first and
// each in the order it names them; the first that cannot be had decides.
bool walk(loader_state& run, uint32_t first, library_verdict* verdict) {
  for (uint32_t at = first; at < run.load_count; ++at) {
    uint32_t offset = object_at(run, run.load[at].object).needed;
    const uint32_t count = run.load[at].in_process ? 0 : object_at(run, run.load[at].object).needed_count;
    for (uint32_t k = 0; k < count; ++k) {
      const char* name = name_at(run, offset);
      offset += static_cast<uint32_t>(strlen(name) + 1);
      int object;
      if (!map_needed(run, at, name, verdict, &object)) return false;
    }
  }
  return true;
}

// Walks the load, then what the loader checks of the whole, and whether
// the Driver Manager finds a driver in it.
void check_whole_load(loader_state& run, library_verdict* verdict) {
  const loader_rules& rules = *run.rules;
  if (!walk(run, 0, verdict)) return;
  run.road_end = -1;
  if (rules.check_load && !rules.check_load(run, verdict)) return;
  // A library that loads, but lacks what the Driver Manager looks up
  // before it can use a driver.
  if (!rules.gives_entry_point) return;
  driver_entry_points points{};
  platform_driver_entry_points(name_at(run, run.load[0].found_as), &points);
  for (const char* name = points.names; *name; name += strlen(name) + 1)
    if (rules.gives_entry_point(run, name, points.own_library)) return;
  if (points.names[0]) set_verdict(verdict, verdict_not_a_driver);
}

}  // namespace

void blame_entry(loader_state& state, int entry, verdict_kind kind, library_verdict* verdict) {
  state.road_end = entry > 0 ? state.load[entry].loader : -1;
  set_verdict(verdict, kind, entry > 0 ? name_at(state, state.load[entry].requested) : nullptr);
}

// The bytes a verdict's list takes, its closing empty entry counted.
static uint32_t list_length(const char* list) {
  size_t used = 0;
  while (list[used]) used += strlen(list + used) + 1;
  return static_cast<uint32_t>(used + 1);
}

// What an earlier load of the same file from the same folder said: true,
// the verdict written, where the run remembers one.
static bool recall_verdict(const loader_state& run, int object, const char* folder, library_verdict* verdict) {
  for (uint32_t i = 0; i < run.remembered_count; ++i) {
    const remembered_verdict& known = run.remembered[i];
    if (known.object != object || strcmp(name_at(run, known.folder), folder) != 0) continue;
    set_verdict(verdict, known.kind, known.has_subject ? name_at(run, known.subject) : nullptr,
                known.has_detail ? name_at(run, known.detail) : nullptr);
    verdict->arch = known.arch;
    memcpy(verdict->road, name_at(run, known.road), known.road_length);
    memcpy(verdict->searched, name_at(run, known.searched), known.searched_length);
    memcpy(verdict->have, name_at(run, known.have), known.have_length);
    return true;
  }
  return false;
}

static void remember_verdict(loader_state& run, int object, const char* folder, const library_verdict& verdict) {
  if (!make_room(&run.remembered, run.remembered_count, &run.remembered_size, 4096)) return;
  object_table* pool = &run.objects;
  const uint32_t road = list_length(verdict.road), searched = list_length(verdict.searched);
  const uint32_t have = list_length(verdict.have);
  run.remembered[run.remembered_count++] = {object,
                                            add_name(pool, folder, strlen(folder)),
                                            verdict.kind,
                                            verdict.arch,
                                            verdict.has_subject,
                                            verdict.has_detail,
                                            add_name(pool, verdict.subject, strlen(verdict.subject)),
                                            add_name(pool, verdict.detail, strlen(verdict.detail)),
                                            add_name(pool, verdict.road, road - 1),
                                            road,
                                            add_name(pool, verdict.searched, searched - 1),
                                            searched,
                                            add_name(pool, verdict.have, have - 1),
                                            have};
}

// The road to a failure within the load: from the library down, as far as
// the list holds.
static void write_road(const loader_state& run, library_verdict* verdict) {
  uint32_t depth = 0;
  for (int at = run.road_end; at >= 0; at = run.load[at].loader) ++depth;
  for (uint32_t from_top = 0; from_top < depth; ++from_top) {
    int at = run.road_end;
    for (uint32_t up = depth - 1 - from_top; up > 0; --up) at = run.load[at].loader;
    char absolute[path_capacity];
    const char* path = name_at(run, run.load[at].found_as);
    if (!add_to_list(verdict->road, sizeof verdict->road,
                     platform_absolute_path(path, absolute, sizeof absolute) ? absolute : path))
      break;
  }
}

// Finds the library the Driver Manager asks for as the loader would: the
// file is written to verdict, whether or not the search found it.
static search_end find_library(loader_state& run, const char* name, search* s, char* spelled,
                               library_verdict* verdict) {
  const loader_rules& rules = *run.rules;
  start_search(s, spelled);
  search_end end;
  if (rules.is_path(name)) {
    end = try_candidate(run, s, name, false);
  } else {
    if (rules.spell) rules.spell(spelled, path_capacity);
    end = rules.search(run, s, -1);
  }
  const char* file = end == search_on ? (s->passed_over ? s->other_file : "") : s->found_as;
  if (!*file || !platform_absolute_path(file, verdict->file, sizeof verdict->file))
    copy_text(verdict->file, file, sizeof verdict->file);
  return end;
}

// Starts a load of what the Driver Manager asks for, and finds its file.
static search_end start_load_of(loader_state& run, const char* name, search* s, char* spelled,
                                library_verdict* verdict) {
  run.rules = &native_rules();
  run.traits = run.rules->traits;
  start_load(&run);
  start_trail(&run);
  copy_text(spelled, name, path_capacity);
  return find_library(run, name, s, spelled, verdict);
}

void load_library(loader_state& run, const char* name, library_verdict* verdict) {
  search s;
  char spelled[path_capacity];
  const search_end end = start_load_of(run, name, &s, spelled, verdict);
  if (end != search_found) {
    failure_verdict(run, s, end, nullptr, verdict);
    return;
  }
  char folder[path_capacity];
  folder_of(s.found_as, run.traits.slash, folder, sizeof folder);
  if (recall_verdict(run, s.object, folder, verdict)) return;
  set_verdict(verdict, verdict_ok);
  add_to_load(&run, s.object, s.found_as, name, -1);
  check_whole_load(run, verdict);
  if (verdict->kind != verdict_ok && run.road_end >= 0) write_road(run, verdict);
  // Kept so for a verdict remembered.
  keep_places_for_missing(verdict);
  remember_verdict(run, s.object, folder, *verdict);
}

bool locate_library(loader_state& run, const char* name, char* file, size_t cap) {
  search s;
  char spelled[path_capacity];
  if (start_load_of(run, name, &s, spelled, &run.scratch) != search_found || strlen(run.scratch.file) >= cap)
    return false;
  copy_text(file, run.scratch.file, cap);
  return true;
}

void reset_loader(loader_state& run) { reset_loader_state(&run); }

int load_more(loader_state& state, const char* name, int entry) {
  // What the walk would say of a failure here is not the word.
  library_verdict& scratch = state.scratch;
  scratch.road[0] = scratch.searched[0] = '\0';
  const uint32_t first = state.load_count;
  int object;
  if (!map_needed(state, static_cast<uint32_t>(entry), name, &scratch, &object) || object < 0) return -1;
  return walk(state, first, &scratch) ? object : -1;
}

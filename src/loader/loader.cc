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

// The run's state; reset_loader starts it anew.
loader_state run;

const char* arch_name(library_arch arch) {
  switch (arch) {
    case arch_x86: return "x86";
    case arch_x64: return "x64";
    case arch_arm64: return "arm64";
    case arch_arm: return "arm";
    case arch_other: break;
  }
  return "other";
}

// The stem of the word for an object that the loader would not take.
const char* failure_stem(object_state state) {
  switch (state) {
    case object_unreadable: return "unreadable";
    case object_not_a_library: return "not-a-library";
    case object_not_followed: return "not-followed";
    case object_loadable:
    case object_other_arch:
    case object_foreign: break;
  }
  return "mismatch";
}

// The word for a search that did not end with a loadable file: of the
// library itself (name null) or of a library it needs.
void failure_word(const search& s, search_end end, const char* name, library_verdict* verdict) {
  if (s.blamed >= 0) {
    blame_entry(run, s.blamed, failure_stem(s.failure), verdict);
    return;
  }
  const char* stem = end == search_failed ? failure_stem(s.failure) : s.passed_over ? "mismatch" : "missing";
  // A name found nowhere: where it was looked for.
  for (const char* place = run.trail; strcmp(stem, "missing") == 0 && *place; place += strlen(place) + 1) {
    char absolute[path_capacity];
    add_place(verdict->searched, sizeof verdict->searched,
              platform_absolute_path(place, absolute, sizeof absolute) ? absolute : place);
  }
  library_arch arch = s.other_arch;
  if (end == search_failed && s.object >= 0) arch = object_at(run, s.object).arch;
  copy_text(verdict->word, stem, sizeof verdict->word);
  if (name) {
    strcat(verdict->word, "-dependency:");
    append_name(verdict->word, sizeof verdict->word, name);
  }
  if (strcmp(stem, "mismatch") == 0) {
    strcat(verdict->word, ":");
    strcat(verdict->word, arch_name(arch));
  }
}

// Finds a name that a library of the load needs, as the loader would: a
// path as it stands, else by the loader's search.
search_end find_needed(search* s, int entry) {
  const loader_rules& rules = *run.rules;
  return rules.is_path(s->name) ? try_candidate(run, s, s->name, false) : rules.search(run, s, entry);
}

// Maps a name that a library of the load (at) needs, as the loader does:
// its object where it is had (-1 where it needs none); false where it
// cannot be had, the word written.
bool map_needed(uint32_t at, const char* written, library_verdict* verdict, int* object) {
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
    failure_word(s, search_failed, name, verdict);
    return false;
  }
  if ((*object = known) >= 0) return true;
  if (read == name_not_followed) s.failure = object_not_followed;
  const search_end end = read == name_kept           ? find_needed(&s, static_cast<int>(at))
                         : read == name_not_followed ? search_failed
                                                     : search_on;
  if (end != search_found) {
    failure_word(s, end, name, verdict);
    return false;
  }
  *object = s.object;
  // A file already loaded under another name is taken again.
  if (object_at(run, s.object).load_mark == run.load_number) return true;
  if (!add_to_load(&run, s.object, s.found_as, name, static_cast<int>(at))) {
    s.failure = object_not_followed;
    failure_word(s, search_failed, name, verdict);
    return false;
  }
  return true;
}

// Maps what the loaded libraries from first on need, breadth first and
// each in the order it names them; the first that cannot be had decides.
bool walk(uint32_t first, library_verdict* verdict) {
  for (uint32_t at = first; at < run.load_count; ++at) {
    uint32_t offset = object_at(run, run.load[at].object).needed;
    const uint32_t count = run.load[at].in_process ? 0 : object_at(run, run.load[at].object).needed_count;
    for (uint32_t k = 0; k < count; ++k) {
      const char* name = name_at(run, offset);
      offset += static_cast<uint32_t>(strlen(name) + 1);
      int object;
      if (!map_needed(at, name, verdict, &object)) return false;
    }
  }
  return true;
}

// Walks the load, then what the loader checks of the whole, and whether
// the Driver Manager finds a driver in it.
void check_whole_load(library_verdict* verdict) {
  const loader_rules& rules = *run.rules;
  if (!walk(0, verdict)) return;
  run.road_end = -1;
  if (rules.check_load && !rules.check_load(run, verdict)) return;
  // A library that loads, but lacks what the Driver Manager looks up
  // before it can use a driver.
  if (!rules.gives_entry_point) return;
  driver_entry_points points{};
  platform_driver_entry_points(name_at(run, run.load[0].found_as), &points);
  for (const char* name = points.names; *name; name += strlen(name) + 1)
    if (rules.gives_entry_point(run, name, points.own_library)) return;
  if (points.names[0]) copy_text(verdict->word, "not-a-driver", sizeof verdict->word);
}

}  // namespace

void blame_entry(loader_state& state, int entry, const char* stem, library_verdict* verdict) {
  copy_text(verdict->word, stem, sizeof verdict->word);
  state.road_end = entry > 0 ? state.load[entry].loader : -1;
  if (entry == 0) return;
  strcat(verdict->word, "-dependency:");
  append_name(verdict->word, sizeof verdict->word, name_at(state, state.load[entry].requested));
}

library_arch program_arch() {
#if defined(__x86_64__) || defined(_M_X64)
  return arch_x64;
#elif defined(__i386__) || defined(_M_IX86)
  return arch_x86;
#elif defined(__aarch64__) || defined(_M_ARM64)
  return arch_arm64;
#elif defined(__arm__) || defined(_M_ARM)
  return arch_arm;
#else
  return arch_other;
#endif
}

// The bytes a verdict's list takes, its closing empty entry counted.
static uint32_t list_length(const char* list) {
  size_t used = 0;
  while (list[used]) used += strlen(list + used) + 1;
  return static_cast<uint32_t>(used + 1);
}

bool add_to_list(char* list, size_t cap, const char* entry) {
  size_t used = 0, last = 0;
  for (; list[used]; used += strlen(list + used) + 1) last = used;
  // A list cut once stays cut, so that what it holds keeps its order.
  if (used > 0 && strcmp(list + last, "...") == 0) return false;
  const char* kept = strlen(entry) + 2 + 5 <= cap - used ? entry : "...";
  if (strlen(kept) + 2 > cap - used) return false;
  memcpy(list + used, kept, strlen(kept) + 1);
  list[used + strlen(kept) + 1] = '\0';
  return kept == entry;
}

void add_place(char* list, size_t cap, const char* place) {
  for (const char* at = list; *at; at += strlen(at) + 1)
    if (strcmp(at, place) == 0) return;
  add_to_list(list, cap, place);
}

void load_library(const char* name, library_verdict* verdict) {
  run.rules = &native_rules();
  const loader_rules& rules = *run.rules;
  start_load(&run);
  start_trail(&run);
  search s;
  char spelled[path_capacity];
  copy_text(spelled, name, sizeof spelled);
  start_search(&s, spelled);
  search_end end;
  if (rules.is_path(name)) {
    end = try_candidate(run, &s, name, false);
  } else {
    if (rules.spell) rules.spell(spelled, sizeof spelled);
    end = rules.search(run, &s, -1);
  }
  const char* file = end == search_on ? (s.passed_over ? s.other_file : "") : s.found_as;
  if (!*file || !platform_absolute_path(file, verdict->file, sizeof verdict->file))
    copy_text(verdict->file, file, sizeof verdict->file);
  if (end != search_found) {
    failure_word(s, end, nullptr, verdict);
    return;
  }
  char folder[path_capacity];
  folder_of(s.found_as, rules.slash, folder, sizeof folder);
  for (uint32_t i = 0; i < run.remembered_count; ++i) {
    const remembered_verdict& known = run.remembered[i];
    if (known.object != s.object || strcmp(name_at(run, known.folder), folder) != 0) continue;
    copy_text(verdict->word, name_at(run, known.word), sizeof verdict->word);
    memcpy(verdict->road, name_at(run, known.road), known.road_length);
    memcpy(verdict->searched, name_at(run, known.searched), known.searched_length);
    return;
  }
  copy_text(verdict->word, "ok", sizeof verdict->word);
  add_to_load(&run, s.object, s.found_as, name, -1);
  check_whole_load(verdict);
  // The road to a failure within the load: from the library down.
  if (strcmp(verdict->word, "ok") != 0 && run.road_end >= 0) {
    uint32_t depth = 0;
    for (int at = run.road_end; at >= 0; at = run.load[at].loader) ++depth;
    // From the top, as far as the list holds.
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
  // The places searched belong to a name found nowhere alone (kept so for
  // a verdict remembered).
  if (strncmp(verdict->word, "missing-dependency:", 19) != 0) verdict->searched[0] = '\0';
  const uint32_t road = list_length(verdict->road), searched = list_length(verdict->searched);
  if (make_room(&run.remembered, run.remembered_count, &run.remembered_size, 4096))
    run.remembered[run.remembered_count++] = {s.object,
                                              add_name(&run.objects, folder, strlen(folder)),
                                              add_name(&run.objects, verdict->word, strlen(verdict->word)),
                                              add_name(&run.objects, verdict->road, road - 1),
                                              road,
                                              add_name(&run.objects, verdict->searched, searched - 1),
                                              searched};
}

void reset_loader() { reset_loader_state(&run); }

int load_more(loader_state& state, const char* name, int entry) {
  // What the walk would say of a failure here is not the word.
  library_verdict& scratch = state.scratch;
  scratch.road[0] = scratch.searched[0] = '\0';
  const uint32_t first = state.load_count;
  int object;
  if (!map_needed(static_cast<uint32_t>(entry), name, &scratch, &object) || object < 0) return -1;
  return walk(first, &scratch) ? object : -1;
}

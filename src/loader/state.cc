// The state of a run of the loader's model, and the names it answers to.
#include "loader/state.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "loader/paths.h"
#include "platform/platform.h"

void reset_loader_state(loader_state* state) {
  clear_objects(&state->objects);
  free(state->load);
  free(state->answers.slots);
  free(state->remembered);
  free(state->process_answers.slots);
  free(state->process_objects);
  free(state->folders.slots);
  free(state->glibc.cache);
  free(state->glibc.bound_needs);
  free(state->windows.schema);
  *state = loader_state{};
}

const char* name_at(const loader_state& state, uint32_t offset) { return name_at(state.objects, offset); }

namespace {

// The key a name is known by: as it stands on ELF, its file name in lower
// case on Windows.
size_t answer_key(const loader_state& state, const char* name, char* key, size_t cap) {
  if (!state.traits.ignore_case) return strlen(name);
  size_t length = 0;
  for (const char* at = base_name(name); *at && length + 1 < cap; ++at)
    key[length++] = static_cast<char>(tolower(static_cast<unsigned char>(*at)));
  key[length] = '\0';
  return length;
}

void add_answer(loader_state* state, name_index* index, const char* name, int object) {
  char key[path_capacity];
  const size_t length = answer_key(*state, name, key, sizeof key);
  add_to_index(index, &state->objects, state->traits.ignore_case ? key : name, length, object);
}

int find_answer(const loader_state& state, const name_index& index, const char* name) {
  char key[path_capacity];
  const size_t length = answer_key(state, name, key, sizeof key);
  const int32_t* found = find_in_index(index, state.objects, state.traits.ignore_case ? key : name, length);
  return found ? *found : -1;
}

// The names an object answers to besides those it was found and asked by:
// its SONAME, on ELF.
void add_soname(loader_state* state, name_index* index, int object) {
  const uint32_t soname = object_at(*state, object).soname;
  if (!soname || state->traits.ignore_case) return;
  char name[path_capacity];
  copy_text(name, name_at(*state, soname), sizeof name);
  add_answer(state, index, name, object);
}

// The objects this process has loaded, by the names they answer to; an
// object whose SONAME the process does not tell is read at once.
void list_process_objects(loader_state* state) {
  state->process_objects_listed = true;
  const char* entry = platform_loader_facts(facts_of_process).loaded;
  for (; entry && *entry; entry += strlen(entry) + 1) {
    const char* soname = entry + strlen(entry) + 1;
    const uint32_t path = add_name(&state->objects, entry, strlen(entry));
    if (!path || !make_room(&state->process_objects, state->process_object_count, &state->process_object_size, 1 << 16))
      return;
    const int index = static_cast<int>(state->process_object_count);
    state->process_objects[state->process_object_count++] = {path, -1};
    add_answer(state, &state->process_answers, entry, index);
    if (*soname) {
      add_answer(state, &state->process_answers, soname, index);
    } else {
      // A SONAME the process does not tell is read from the file.
      const int object = open_object(&state->objects, entry, state->traits.read);
      state->process_objects[index].object = object;
      if (object >= 0 && object_at(*state, object).soname) {
        char name[path_capacity];
        copy_text(name, name_at(*state, object_at(*state, object).soname), sizeof name);
        add_answer(state, &state->process_answers, name, index);
      }
    }
    entry = soname;
  }
}

}  // namespace

void start_load(loader_state* state) {
  state->load_count = 0;
  state->road_end = -1;
  ++state->load_number;
  empty_index(&state->answers);
}

bool add_to_load(loader_state* state, int object, const char* found_as, const char* requested, int loader,
                 bool in_process) {
  if (!make_room(&state->load, state->load_count, &state->load_size, max_load)) return false;
  state->load[state->load_count++] = {object, add_name(&state->objects, found_as, strlen(found_as)),
                                      add_name(&state->objects, requested, strlen(requested)), loader, in_process};
  state->objects.objects[object].load_mark = state->load_number;
  state->objects.objects[object].load_entry = state->load_count - 1;
  add_answer(state, &state->answers, requested, object);
  add_answer(state, &state->answers, found_as, object);
  add_soname(state, &state->answers, object);
  return true;
}

int loaded_object_named(loader_state& state, const char* name) {
  const int in_load = find_answer(state, state.answers, name);
  if (in_load >= 0) return in_load;
  // On Windows a DLL of the process is found like any other.
  if (state.traits.ignore_case) return -1;
  if (!state.process_objects_listed) list_process_objects(&state);
  const int found = find_answer(state, state.process_answers, name);
  if (found < 0) return -1;
  process_object& process = state.process_objects[found];
  if (process.object < 0) {
    char path[path_capacity];
    copy_text(path, name_at(state, process.path), sizeof path);
    process.object = open_object(&state.objects, path, state.traits.read);
  }
  return process.object;
}

bool object_answers_to(const loader_state& state, int object, const char* name) {
  return find_answer(state, state.answers, name) == object;
}

void start_trail(loader_state* state) {
  state->trail[0] = state->trail[1] = '\0';
  state->trail_used = 0, state->trail_cut = false;
  memset(state->trail_places, 0, sizeof state->trail_places);
}

// The slot of a place in the trail's index: where it is, or the empty one
// it would take; null where the index is full.
static uint16_t* trail_slot(loader_state* state, const char* entry) {
  uint32_t hash = 2166136261u;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(entry); *at; ++at)
    hash = (hash ^ *at) * 16777619u;
  const uint32_t slots = sizeof state->trail_places / sizeof state->trail_places[0];
  for (uint32_t probe = 0; probe < slots; ++probe) {
    uint16_t* slot = &state->trail_places[(hash + probe) % slots];
    if (*slot == 0 || strcmp(state->trail + *slot - 1, entry) == 0) return slot;
  }
  return nullptr;
}

void add_to_trail(loader_state* state, const char* place, size_t length) {
  char entry[path_capacity];
  if (length >= sizeof entry || state->trail_cut) return;
  memcpy(entry, place, length);
  entry[length] = '\0';
  // The empty folder is the current one.
  if (length == 0) copy_text(entry, ".", sizeof entry);
  // The same place twice (a subfolder list's folder) is one place.
  uint16_t* slot = trail_slot(state, entry);
  if (slot && *slot) return;
  // Past the room, "..." closes the list, as add_to_list closes one.
  const size_t room = sizeof state->trail - state->trail_used;
  const char* kept = strlen(entry) + 2 + 5 <= room ? entry : "...";
  if (strlen(kept) + 2 > room) return;
  memcpy(state->trail + state->trail_used, kept, strlen(kept) + 1);
  if (slot && kept == entry) *slot = static_cast<uint16_t>(state->trail_used + 1);
  state->trail_used += static_cast<uint32_t>(strlen(kept) + 1);
  state->trail[state->trail_used] = '\0';
  state->trail_cut = kept != entry;
}

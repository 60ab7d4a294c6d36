// The state of a run of the loader's model, and the names it answers to.
#include "loader/state.h"

#include <cstdlib>
#include <cstring>

#include "loader/paths.h"
#include "loader/rules.h"
#include "platform/platform.h"

void reset_loader_state(loader_state* state) {
  clear_objects(&state->objects);
  free(state->remembered);
  free(state->glibc.cache);
  state->remembered = nullptr;
  state->remembered_count = state->remembered_size = 0;
  state->load_count = state->process_object_count = 0;
  state->process_objects_read = false;
  state->glibc = glibc_memory{};
}

const loaded_object& object_at(const loader_state& state, int index) { return state.objects.objects[index]; }

const char* name_at(const loader_state& state, uint32_t offset) { return name_at(state.objects, offset); }

int loaded_object_named(loader_state& state, const char* name) {
  const bool windows = state.rules->ignore_case;
  for (int i = 0; i < state.load_count; ++i) {
    const loaded_object& object = object_at(state, state.load[i].object);
    const char* requested = name_at(state, state.load[i].requested);
    const char* found = name_at(state, state.load[i].found_as);
    if (windows ? same_module(name, base_name(found)) || same_module(name, base_name(requested))
                : strcmp(name, requested) == 0 || strcmp(name, found) == 0 ||
                      (object.soname && strcmp(name, name_at(state, object.soname)) == 0))
      return state.load[i].object;
  }
  if (!state.process_objects_read) {
    state.process_objects_read = true;
    for (const char* path = platform_loader_facts().loaded; path && *path; path += strlen(path) + 1) {
      const int index = open_object(&state.objects, path, state.rules->read);
      if (index >= 0 && state.process_object_count < max_process_objects)
        state.process_objects[state.process_object_count++] = index;
    }
  }
  for (int i = 0; i < state.process_object_count && !windows; ++i) {
    const loaded_object& object = object_at(state, state.process_objects[i]);
    if (strcmp(name, name_at(state, object.path)) == 0 ||
        (object.soname && strcmp(name, name_at(state, object.soname)) == 0))
      return state.process_objects[i];
  }
  return -1;
}

// A search for one library name, candidate by candidate.
#include "loader/search.h"

#include <cstring>

#include "platform/platform.h"

void start_search(search* s, const char* name) {
  // Its paths are written before they are read.
  s->name = name;
  s->object = s->blamed = -1;
  s->failure = object_loadable;
  s->found_as[0] = s->other_file[0] = '\0';
  s->passed_over = s->candidate_missing = false;
  s->other_arch = arch_other;
}

search_end try_candidate(loader_state& state, search* s, const char* path, bool searching) {
  const int index = open_object(&state.objects, path, state.traits.read);
  s->candidate_missing = index == file_missing;
  if (index == file_missing || (index == file_denied && searching && !state.traits.stops_at_unopenable))
    return search_on;
  if (index < 0) {
    s->failure = index == object_limit ? object_not_followed : object_unreadable;
    copy_text(s->found_as, path, sizeof s->found_as);
    return search_failed;
  }
  const loaded_object& object = object_at(state, index);
  if (object.state == object_other_arch && searching) {
    if (!s->passed_over) {
      copy_text(s->other_file, path, sizeof s->other_file);
      s->other_arch = object.arch;
      s->passed_over = true;
    }
    return search_on;
  }
  copy_text(s->found_as, path, sizeof s->found_as);
  s->object = index;
  s->failure = object.state;
  return object.state == object_loadable ? search_found : search_failed;
}

namespace {

// Whether a folder may hold files, as far as the run knows: each folder is
// looked at once, when a file in it was missing.
bool folder_may_exist(loader_state& state, const char* folder, size_t length) {
  const int32_t* known = find_in_index(state.folders, state.objects, folder, length);
  return !known || *known;
}

void note_folder(loader_state& state, char* folder, size_t length) {
  if (find_in_index(state.folders, state.objects, folder, length)) return;
  const char kept = folder[length];
  folder[length] = '\0';
  // An empty folder is the current one.
  const bool exists = length == 0 || platform_folder_exists(folder);
  folder[length] = kept;
  add_to_index(&state.folders, &state.objects, folder, length, exists);
}

}  // namespace

search_end try_folders(loader_state& state, search* s, const folder_list& list) {
  const char slash = state.traits.slash;
  const size_t name_length = strlen(s->name);
  char folder[path_capacity], candidate[path_capacity];
  for (const char* element = list.folders; element;) {
    const size_t length = strcspn(element, list.separators);
    const char* next = element[length] ? element + length + 1 : nullptr;
    // Room is left for the separator added below.
    const bool usable = length > 0 ? expand_tokens(element, length, list.origin, folder, sizeof folder - 1) == expanded
                                   : list.empty_is_current;
    element = next;
    if (!usable) continue;
    if (length == 0) folder[0] = '\0';
    // Trailing slashes go, but for the root; one separates the name.
    size_t folder_length = strlen(folder);
    while (folder_length > 1 && folder[folder_length - 1] == slash) --folder_length;
    add_to_trail(&state, folder, folder_length);
    if (folder_length > 0 && folder[folder_length - 1] != slash) folder[folder_length++] = slash;
    folder[folder_length] = '\0';
    if (!folder_may_exist(state, folder, folder_length)) continue;
    const char* subfolders = list.subfolders && *list.subfolders ? list.subfolders : "";
    for (const char* sub = subfolders; sub; sub = *sub ? sub + strlen(sub) + 1 : nullptr) {
      const size_t sub_length = strlen(sub);
      if (folder_length + sub_length + name_length >= sizeof candidate) continue;
      memcpy(candidate, folder, folder_length);
      memcpy(candidate + folder_length, sub, sub_length);
      if (!folder_may_exist(state, candidate, folder_length + sub_length)) continue;
      memcpy(candidate + folder_length + sub_length, s->name, name_length + 1);
      const search_end end = try_candidate(state, s, candidate);
      if (end != search_on) return end;
      if (!s->candidate_missing) continue;
      // The folder itself first: where it is missing, so are its subfolders.
      note_folder(state, candidate, folder_length);
      if (!folder_may_exist(state, candidate, folder_length)) break;
      if (sub_length) note_folder(state, candidate, folder_length + sub_length);
    }
  }
  return search_on;
}

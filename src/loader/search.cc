// A search for one library name, candidate by candidate.
#include "loader/search.h"

#include <cstring>

#include "loader/rules.h"

search_end try_candidate(loader_state& state, search* s, const char* path, bool searching) {
  const int index = open_object(&state.objects, path, state.rules->read);
  if (index == file_missing || (index == file_denied && searching)) return search_on;
  if (index == file_unreadable || index == file_denied) {
    s->failure = object_unreadable;
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

search_end try_folders(loader_state& state, search* s, const folder_list& list) {
  const char slash = state.rules->slash;
  char folder[path_capacity], candidate[path_capacity];
  for (const char* element = list.folders; element;) {
    const size_t length = strcspn(element, list.separators);
    const char* next = element[length] ? element + length + 1 : nullptr;
    // Room is left for the separator added below.
    const bool usable =
        length > 0 ? expand_tokens(element, length, list.origin, folder, sizeof folder - 1) : list.empty_is_current;
    element = next;
    if (!usable) continue;
    if (length == 0) folder[0] = '\0';
    // Trailing slashes go, but for the root; one separates the name.
    size_t folder_length = strlen(folder);
    while (folder_length > 1 && folder[folder_length - 1] == slash) --folder_length;
    if (folder_length > 0 && folder[folder_length - 1] != slash) folder[folder_length++] = slash;
    folder[folder_length] = '\0';
    const char* subfolders = list.subfolders && *list.subfolders ? list.subfolders : "";
    for (const char* sub = subfolders; sub; sub = *sub ? sub + strlen(sub) + 1 : nullptr) {
      const size_t sub_length = strlen(sub);
      if (folder_length + sub_length + strlen(s->name) >= sizeof candidate) continue;
      memcpy(candidate, folder, folder_length);
      memcpy(candidate + folder_length, sub, sub_length);
      strcpy(candidate + folder_length + sub_length, s->name);
      const search_end end = try_candidate(state, s, candidate);
      if (end != search_on) return end;
    }
  }
  return search_on;
}

// glibc's check of symbol versions (dl-version.c's _dl_check_map_versions),
// once a library and everything it needs are mapped.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "loader/glibc.h"

namespace {

// Whether a file defines the version a requirement names, as glibc walks
// its definitions: from the first, where a record of a kind it does not
// know ends the check.
enum definition_found { version_defined, version_undefined, version_unreadable };
definition_found find_definition(const loader_state& state, const loaded_object& target, const symbol_version& need) {
  // A file that defines no versions at all satisfies every requirement.
  if (target.definition_count == 0) return version_defined;
  for (uint32_t d = 0; d < target.definition_count; ++d) {
    const symbol_version& definition = state.objects.versions[target.first_definition + d];
    if (definition.unsupported) return version_unreadable;
    if (definition.hash == need.hash && strcmp(name_at(state, definition.name), name_at(state, need.name)) == 0)
      return version_defined;
  }
  return version_undefined;
}

// Compares version names as their numbers count: "GLIBC_2.4" before
// "GLIBC_2.36".
int compare_versions(const char* a, const char* b) {
  while (*a && *b) {
    if (isdigit(static_cast<unsigned char>(*a)) && isdigit(static_cast<unsigned char>(*b))) {
      unsigned long x = strtoul(a, const_cast<char**>(&a), 10), y = strtoul(b, const_cast<char**>(&b), 10);
      if (x != y) return x < y ? -1 : 1;
      continue;
    }
    if (*a != *b) return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
    ++a, ++b;
  }
  return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

// What the file found defines of the missing version's family (its name
// up to the first digit), oldest first: how far it is from what is needed.
void note_defined_versions(const loader_state& state, const loaded_object& target, const char* needed,
                           library_verdict* verdict) {
  enum { most = 256 };
  const char* names[most];
  uint32_t count = 0;
  const size_t family = strcspn(needed, "0123456789");
  for (uint32_t d = 0; d < target.definition_count && count < most; ++d) {
    const symbol_version& definition = state.objects.versions[target.first_definition + d];
    const char* name = name_at(state, definition.name);
    if (definition.base || strncmp(name, needed, family) != 0) continue;
    uint32_t at = count++;
    for (; at > 0 && compare_versions(names[at - 1], name) > 0; --at) names[at] = names[at - 1];
    names[at] = name;
  }
  verdict->have[0] = '\0';
  for (uint32_t i = 0; i < count; ++i) add_to_list(verdict->have, sizeof verdict->have, names[i]);
}

}  // namespace

// Library by library in load order: every version a file requires must be
// defined by the file it names, a file the process has loaded (glibc ends
// the process where none is); weak requirements may be missing.
bool check_versions(loader_state& state, library_verdict* verdict) {
  for (uint32_t at = 0; at < state.load_count; ++at) {
    const loaded_object object = object_at(state, state.load[at].object);
    if (state.load[at].in_process) continue;
    if (object.damaged_versions) return blame_entry(state, static_cast<int>(at), verdict_not_a_library, verdict), false;
    // A file's requirements of one library come together: it is found once.
    uint32_t file = 0;
    int target = -1;
    for (uint32_t k = 0; k < object.need_count; ++k) {
      const symbol_version need = state.objects.versions[object.first_need + k];
      if (need.file != file) {
        file = need.file;
        target = loaded_object_named(state, name_at(state, file));
        if (target < 0) return blame_entry(state, static_cast<int>(at), verdict_not_a_library, verdict), false;
      }
      const definition_found found = find_definition(state, object_at(state, target), need);
      if (found == version_defined || (found == version_undefined && need.weak)) continue;
      state.road_end = static_cast<int>(at);
      if (found == version_unreadable) set_verdict(verdict, verdict_not_a_library, name_at(state, need.file));
      else set_verdict(verdict, verdict_missing_version, name_at(state, need.file), name_at(state, need.name));
      if (found == version_undefined)
        note_defined_versions(state, object_at(state, target), name_at(state, need.name), verdict);
      return false;
    }
  }
  return true;
}

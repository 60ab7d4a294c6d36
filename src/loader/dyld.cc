// macOS's dyld, as far as it is modelled: a bare name is looked for in the
// folders of DYLD_LIBRARY_PATH, then of its fallback path. What a library
// needs is not followed.
#include <cstring>
#include <initializer_list>

#include "loader/macho_file.h"
#include "loader/rules.h"
#include "platform/platform.h"

namespace {

bool has_slash(const char* name) { return strchr(name, '/') != nullptr; }

search_end dyld_search(loader_state& state, search* s, int) {
  const loader_facts& f = platform_loader_facts();
  for (const char* folders : {f.library_path, f.default_folders}) {
    const folder_list places = {
        .folders = folders, .separators = ":", .origin = nullptr, .subfolders = nullptr, .empty_is_current = false};
    const search_end end = folders ? try_folders(state, s, places) : search_on;
    if (end != search_on) return end;
  }
  return search_on;
}

}  // namespace

const loader_rules dyld_rules = {
    .traits = {.read = read_macho_object, .slash = '/', .ignore_case = false, .stops_at_unopenable = false},
    .is_path = has_slash,
    .spell = nullptr,
    .read_needed = nullptr,
    .built_in = nullptr,
    .search = dyld_search,
    .check_load = nullptr,
    .gives_entry_point = nullptr,
};

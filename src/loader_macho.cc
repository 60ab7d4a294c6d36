// macOS's dyld, as far as it is modelled: a bare name is looked for in the
// folders of DYLD_LIBRARY_PATH, then of its fallback path. What a library
// needs is not followed.
#include <cstring>

#include "loader.h"

namespace {

bool is_path(const char* name) { return strchr(name, '/') != nullptr; }

search_end search_folders(search* s, int) {
  const loader_facts& f = platform_loader_facts();
  const search_end end = f.library_path ? try_folders(s, f.library_path, ":", nullptr, nullptr, '/', false) : search_on;
  if (end != search_on || !f.default_folders) return end;
  return try_folders(s, f.default_folders, ":", nullptr, nullptr, '/', false);
}

void forget() {}

}  // namespace

const loader_rules dyld_loader = {read_macho_object, '/',     false, is_path, nullptr, nullptr,
                                  search_folders,    nullptr, forget};

// glibc's search for a library (dl-load.c's _dl_map_object): where it
// looks for a bare name, in its order, and how it reads the names a library
// needs.
#include <cstdlib>
#include <cstring>

#include "loader/glibc.h"
#include "loader/ld_cache.h"
#include "platform/platform.h"

namespace {

enum : size_t { cache_limit = size_t{32} << 20 };

// The loader's cache, read whole once per run; empty when it is missing or
// too large.
const unsigned char* cache_bytes(glibc_memory* memory, size_t* size) {
  const char* path = platform_loader_facts().cache;
  if (!memory->cache_read && path) {
    memory->cache_read = true;
    platform_file file;
    if (platform_open_file(path, &file) == file_opened) {
      memory->cache_too_large = file.size > cache_limit;
      if (!memory->cache_too_large && (memory->cache = static_cast<unsigned char*>(malloc(file.size + 1))) != nullptr) {
        memory->cache_size = static_cast<size_t>(file.size);
        if (!platform_read_file(file, 0, memory->cache, memory->cache_size)) memory->cache_size = 0;
      }
      platform_close_file(file);
    }
  }
  *size = memory->cache_size;
  return memory->cache;
}

// The names of the glibc-hwcaps subfolders the loader searches, best
// first, as the cache names them.
const char* hwcaps_names(glibc_memory* memory) {
  static const char prefix[] = "glibc-hwcaps/";
  if (!memory->hwcaps_made) {
    memory->hwcaps_made = true;
    size_t used = 0;
    for (const char* sub = platform_loader_facts(facts_for_search).subfolders; sub && *sub; sub += strlen(sub) + 1) {
      if (strncmp(sub, prefix, sizeof prefix - 1) != 0 || strlen(sub) < sizeof prefix) continue;
      const size_t length = strlen(sub) - sizeof prefix;  // without the prefix and the '/'
      if (used + length + 2 >= sizeof memory->hwcaps) continue;
      memcpy(memory->hwcaps + used, sub + sizeof prefix - 1, length);
      used += length + 1;
      memory->hwcaps[used - 1] = '\0';
    }
    memory->hwcaps[used] = '\0';
  }
  return memory->hwcaps;
}

// A folder list of a library of the load (its RPATH or RUNPATH, read as
// it was): $ORIGIN is the folder that library was found in. A list the
// loader cannot read ends the process when it searches, and one too long
// to follow is not followed.
search_end try_library_folders(loader_state& state, search* s, int entry, uint32_t folders, folder_list_state read) {
  if (read != list_read) {
    s->blamed = entry;
    s->failure = read == list_unmapped ? object_not_a_library : object_not_followed;
    return search_failed;
  }
  char origin[path_capacity];
  folder_of(name_at(state, state.load[entry].found_as), '/', origin, sizeof origin);
  const folder_list places = {.folders = name_at(state, folders),
                              .separators = ":",
                              .origin = origin,
                              .subfolders = platform_loader_facts(facts_for_search).subfolders,
                              .empty_is_current = true};
  return try_folders(state, s, places);
}

}  // namespace

// The RPATH of the entry and of those that loaded it, unless the entry has
// a RUNPATH; LD_LIBRARY_PATH; the entry's RUNPATH; then, unless the entry
// forbids them, the cache and the default folders.
search_end glibc_search(loader_state& state, search* s, int entry) {
  const loader_facts& f = platform_loader_facts(facts_for_search);
  const loaded_object needing = entry >= 0 ? object_at(state, state.load[entry].object) : loaded_object{};
  for (int at = entry; at >= 0 && !needing.has_runpath; at = state.load[at].loader) {
    const loaded_object& object = object_at(state, state.load[at].object);
    const search_end end = object.rpath || object.rpath_state != list_read
                               ? try_library_folders(state, s, at, object.rpath, object.rpath_state)
                               : search_on;
    if (end != search_on) return end;
  }
  if (f.library_path) {
    const folder_list library_path = {.folders = f.library_path,
                                      .separators = ":;",
                                      .origin = f.application_folder,
                                      .subfolders = f.subfolders,
                                      .empty_is_current = true};
    const search_end end = try_folders(state, s, library_path);
    if (end != search_on) return end;
  }
  if (needing.has_runpath) {
    const search_end end = try_library_folders(state, s, entry, needing.runpath, needing.runpath_state);
    if (end != search_on) return end;
  }
  if (needing.no_default_folders) return search_on;
  size_t size;
  char cached[path_capacity];
  const unsigned char* cache = cache_bytes(&state.glibc, &size);
  if (state.glibc.cache_too_large) {
    s->failure = object_not_followed;
    return search_failed;
  }
  const cache_query query = {.name = s->name, .flags = f.cache_flags, .hwcaps = hwcaps_names(&state.glibc)};
  if (cache) add_to_trail(&state, f.cache, strlen(f.cache));
  if (cache && ld_cache_lookup({cache, size}, query, cached, sizeof cached)) {
    const search_end end = try_candidate(state, s, cached);
    if (end != search_on) return end;
  }
  if (!f.default_folders) return search_on;
  const folder_list defaults = {.folders = f.default_folders,
                                .separators = ":",
                                .origin = nullptr,
                                .subfolders = f.subfolders,
                                .empty_is_current = false};
  return try_folders(state, s, defaults);
}

needed_name glibc_read_needed(loader_state& state, int entry, char* name, size_t cap) {
  if (!strchr(name, '$')) return name_kept;
  char origin[path_capacity], expanded_name[path_capacity];
  folder_of(name_at(state, state.load[entry].found_as), '/', origin, sizeof origin);
  switch (expand_tokens(name, strlen(name), origin, expanded_name, sizeof expanded_name - 5)) {
    case token_without_value: return name_dropped;
    case expansion_too_long: return name_too_long;
    case expanded: break;
  }
  copy_text(name, expanded_name, cap);
  return name_kept;
}

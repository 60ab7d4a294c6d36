// glibc's dynamic loader (ld.so): where it looks for a bare name, in its
// order, and the symbol versions it checks once a library and everything it
// needs are mapped.
#include <cstdlib>
#include <cstring>

#include "loader/elf_file.h"
#include "loader/ld_cache.h"
#include "loader/rules.h"
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
      if (file.size <= cache_limit && (memory->cache = static_cast<unsigned char*>(malloc(file.size + 1))) != nullptr) {
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
    for (const char* sub = platform_loader_facts().subfolders; sub && *sub; sub += strlen(sub) + 1) {
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

// A folder list of a library of the load (its RPATH or RUNPATH): $ORIGIN
// is the folder that library was found in.
search_end try_library_folders(loader_state& state, search* s, int entry, uint32_t folders) {
  char list[path_capacity], origin[path_capacity];
  copy_text(list, name_at(state, folders), sizeof list);
  folder_of(name_at(state, state.load[entry].found_as), '/', origin, sizeof origin);
  const folder_list places = {.folders = list,
                              .separators = ":",
                              .origin = origin,
                              .subfolders = platform_loader_facts().subfolders,
                              .empty_is_current = true};
  return try_folders(state, s, places);
}

// glibc's search for a bare name that the entry needs (-1: the Driver
// Manager's dlopen): the RPATH of the entry and of those that loaded it,
// unless the entry has a RUNPATH; LD_LIBRARY_PATH; the entry's RUNPATH;
// then, unless the entry forbids them, the cache and the default folders.
search_end glibc_search(loader_state& state, search* s, int entry) {
  const loader_facts& f = platform_loader_facts();
  const loaded_object* needing = entry >= 0 ? &object_at(state, state.load[entry].object) : nullptr;
  const bool has_runpath = needing && needing->has_runpath;
  for (int at = entry; at >= 0 && !has_runpath; at = state.load[at].loader) {
    const uint32_t rpath = object_at(state, state.load[at].object).rpath;
    const search_end end = rpath ? try_library_folders(state, s, at, rpath) : search_on;
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
  if (has_runpath) {
    const search_end end = try_library_folders(state, s, entry, needing->runpath);
    if (end != search_on) return end;
  }
  if (needing && needing->no_default_folders) return search_on;
  size_t size;
  char cached[path_capacity];
  const unsigned char* cache = cache_bytes(&state.glibc, &size);
  const cache_query query = {.name = s->name, .flags = f.cache_flags, .hwcaps = hwcaps_names(&state.glibc)};
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

// Every symbol version a file of the load requires must be defined by the
// file it names, where that file defines versions at all; weak
// requirements may be missing.
void check_versions(loader_state& state, library_verdict* verdict) {
  for (int at = 0; at < state.load_count; ++at) {
    const loaded_object object = object_at(state, state.load[at].object);
    // A file's requirements of one library come together: it is found once.
    uint32_t file = 0;
    loaded_object target{};
    for (uint32_t k = 0; k < object.need_count; ++k) {
      const symbol_version need = state.objects.versions[object.first_need + k];
      if (need.file != file) {
        file = need.file;
        const int index = loaded_object_named(state, name_at(state, file));
        target = index < 0 ? loaded_object{} : object_at(state, index);
      }
      bool defined = need.weak || target.definition_count == 0;
      for (uint32_t d = 0; d < target.definition_count && !defined; ++d) {
        const symbol_version& definition = state.objects.versions[target.first_definition + d];
        defined =
            definition.hash == need.hash && strcmp(name_at(state, definition.name), name_at(state, need.name)) == 0;
      }
      if (defined) continue;
      copy_text(verdict->word, "missing-version:", sizeof verdict->word);
      append_name(verdict->word, sizeof verdict->word, name_at(state, need.file));
      strcat(verdict->word, ":");
      append_name(verdict->word, sizeof verdict->word, name_at(state, need.name));
      return;
    }
  }
}

bool has_slash(const char* name) { return strchr(name, '/') != nullptr; }

}  // namespace

const loader_rules glibc_rules = {
    .read = read_elf_object,
    .slash = '/',
    .ignore_case = false,
    .is_path = has_slash,
    .spell = nullptr,
    .built_in = nullptr,
    .search = glibc_search,
    .check_load = check_versions,
};

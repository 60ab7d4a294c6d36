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

// A name a library needs, its tokens expanded against its folder, as glibc
// reads every name it needs; a token without a value drops the name.
needed_name read_needed(loader_state& state, int entry, char* name, size_t cap) {
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

// An empty name is the program's own, which glibc has loaded first.
bool program_itself(const char* name) { return name[0] == '\0'; }

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

// glibc's check of symbol versions, library by library in load order:
// every version a file requires must be defined by the file it names, a
// file the process has loaded (glibc ends the process where none is);
// weak requirements may be missing.
void check_versions(loader_state& state, library_verdict* verdict) {
  for (uint32_t at = 0; at < state.load_count; ++at) {
    const loaded_object object = object_at(state, state.load[at].object);
    if (object.damaged_versions) return blame_entry(state, static_cast<int>(at), "not-a-library", verdict);
    // A file's requirements of one library come together: it is found once.
    uint32_t file = 0;
    int target = -1;
    for (uint32_t k = 0; k < object.need_count; ++k) {
      const symbol_version need = state.objects.versions[object.first_need + k];
      if (need.file != file) {
        file = need.file;
        target = loaded_object_named(state, name_at(state, file));
        if (target < 0) return blame_entry(state, static_cast<int>(at), "not-a-library", verdict);
      }
      const definition_found found = find_definition(state, object_at(state, target), need);
      if (found == version_defined || (found == version_undefined && need.weak)) continue;
      copy_text(verdict->word,
                found == version_unreadable ? "not-a-library-dependency:" : "missing-version:", sizeof verdict->word);
      append_name(verdict->word, sizeof verdict->word, name_at(state, need.file));
      if (found == version_undefined) {
        strcat(verdict->word, ":");
        append_name(verdict->word, sizeof verdict->word, name_at(state, need.name));
      }
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
    .stops_at_unopenable = false,
    .is_path = has_slash,
    .spell = nullptr,
    .read_needed = read_needed,
    .built_in = program_itself,
    .search = glibc_search,
    .check_load = check_versions,
};

// glibc's dynamic loader: where it looks for a bare name, in its order,
// and the symbol versions it checks once a library and everything it needs
// are mapped.
#include <cstdlib>
#include <cstring>

#include "ld_cache.h"
#include "loader.h"

namespace {

enum : size_t { cache_limit = size_t{32} << 20 };

// The loader's cache, read whole once per run; empty when it is missing
// or too large.
unsigned char* cache;
size_t cache_size;
bool cache_read;

const unsigned char* cache_bytes(size_t* size) {
  if (!cache_read && platform_loader_facts().cache) {
    cache_read = true;
    platform_file file;
    if (platform_open_file(platform_loader_facts().cache, &file) == file_opened) {
      if (file.size <= cache_limit && (cache = static_cast<unsigned char*>(malloc(file.size + 1))) != nullptr) {
        cache_size = static_cast<size_t>(file.size);
        if (!platform_read_file(file, 0, cache, cache_size)) cache_size = 0;
      }
      platform_close_file(file);
    }
  }
  *size = cache_size;
  return cache;
}

// The names of the glibc-hwcaps subfolders the loader searches, best
// first, as the cache names them.
char hwcaps[1024];
bool hwcaps_made;

const char* hwcaps_names() {
  static const char prefix[] = "glibc-hwcaps/";
  if (!hwcaps_made) {
    hwcaps_made = true;
    size_t used = 0;
    for (const char* sub = platform_loader_facts().subfolders; sub && *sub; sub += strlen(sub) + 1) {
      if (strncmp(sub, prefix, sizeof prefix - 1) != 0 || strlen(sub) < sizeof prefix) continue;
      const size_t length = strlen(sub) - sizeof prefix;  // without the prefix and the '/'
      if (used + length + 2 >= sizeof hwcaps) continue;
      memcpy(hwcaps + used, sub + sizeof prefix - 1, length);
      used += length + 1;
      hwcaps[used - 1] = '\0';
    }
    hwcaps[used] = '\0';
  }
  return hwcaps;
}

// glibc's search for a bare name that the entry needs (-1: the Driver
// Manager's dlopen): the RPATH of the entry and of those that loaded it,
// unless the entry has a RUNPATH; LD_LIBRARY_PATH; the entry's RUNPATH;
// then, unless the entry forbids them, the cache and the default folders.
search_end elf_search(search* s, int entry) {
  const loader_facts& f = platform_loader_facts();
  char list[path_capacity], origin[path_capacity];
  const bool has_runpath = entry >= 0 && object_at(load[entry].object).has_runpath;
  for (int at = entry; at >= 0 && !has_runpath; at = load[at].loader) {
    const loaded_object& object = object_at(load[at].object);
    if (!object.rpath) continue;
    copy_text(list, pool_text(object.rpath), sizeof list);
    folder_of(pool_text(load[at].found_as), '/', origin, sizeof origin);
    const search_end end = try_folders(s, list, ":", origin, f.subfolders, '/', true);
    if (end != search_on) return end;
  }
  if (f.library_path) {
    const search_end end = try_folders(s, f.library_path, ":;", f.application_folder, f.subfolders, '/', true);
    if (end != search_on) return end;
  }
  if (has_runpath) {
    copy_text(list, pool_text(object_at(load[entry].object).runpath), sizeof list);
    folder_of(pool_text(load[entry].found_as), '/', origin, sizeof origin);
    const search_end end = try_folders(s, list, ":", origin, f.subfolders, '/', true);
    if (end != search_on) return end;
  }
  if (entry >= 0 && object_at(load[entry].object).no_default_folders) return search_on;
  size_t size;
  const unsigned char* cached = cache_bytes(&size);
  if (cached && ld_cache_lookup(cached, size, s->name, f.cache_flags, hwcaps_names(), list, sizeof list)) {
    const search_end end = try_candidate(s, list);
    if (end != search_on) return end;
  }
  return f.default_folders ? try_folders(s, f.default_folders, ":", nullptr, f.subfolders, '/', false) : search_on;
}

// Every symbol version a file of the load requires must be defined by the
// file it names, where that file defines versions at all; weak
// requirements may be missing.
void check_versions(library_verdict* verdict) {
  for (int at = 0; at < load_count; ++at) {
    const loaded_object object = object_at(load[at].object);
    // A file's requirements of one library come together: it is found once.
    uint32_t file = 0;
    loaded_object target{};
    for (uint32_t k = 0; k < object.need_count; ++k) {
      const symbol_version need = symbol_version_at(object.first_need + k);
      if (need.file != file) {
        file = need.file;
        const int index = loaded_object_named(pool_text(file));
        target = index < 0 ? loaded_object{} : object_at(index);
      }
      bool defined = need.weak || target.definition_count == 0;
      for (uint32_t d = 0; d < target.definition_count && !defined; ++d) {
        const symbol_version& definition = symbol_version_at(target.first_definition + d);
        defined = definition.hash == need.hash && strcmp(pool_text(definition.name), pool_text(need.name)) == 0;
      }
      if (defined) continue;
      copy_text(verdict->word, "missing-version:", sizeof verdict->word);
      append_name(verdict->word, sizeof verdict->word, pool_text(need.file));
      strcat(verdict->word, ":");
      append_name(verdict->word, sizeof verdict->word, pool_text(need.name));
      return;
    }
  }
}

bool is_path(const char* name) { return strchr(name, '/') != nullptr; }

void forget() {
  free(cache);
  cache = nullptr;
  cache_size = 0;
  cache_read = hwcaps_made = false;
}

}  // namespace

const loader_rules glibc_loader = {read_elf_object, '/',        false,          is_path, nullptr,
                                   nullptr,         elf_search, check_versions, forget};

// The check of a driver's library: the Driver Manager's own search, then
// its loader's.
#include "library_check.h"

#include <cstring>

#include "loader/paths.h"
#include "platform/platform.h"

// Files of the name found nowhere where a vendor's layout puts them but no
// search reaches: the driver's own folder (or the folder the value names),
// its lib and lib64 subfolders, and those beside it. A hint: the loader does
// not look there.
static void note_elsewhere(const char* value, library_verdict* verdict) {
  const char* name = verdict->has_subject ? verdict->subject : strrchr(value, '/') ? strrchr(value, '/') + 1 : "";
  const char* from = verdict->file[0] ? verdict->file : value;
  const char* slash = strrchr(from, '/');
  if (!*name || !slash || strchr(name, '/')) return;
  char folder[4096], absolute[4096];
  const size_t length = static_cast<size_t>(slash - from);
  if (length + 300 >= sizeof folder) return;
  memcpy(folder, from, length);
  folder[length] = '\0';
  if (!platform_absolute_path(folder, absolute, sizeof absolute)) return;
  // The folder beside it, without its last name.
  char* last = strrchr(absolute, '/');
  const size_t parent = last && last != absolute ? static_cast<size_t>(last - absolute) : 0;
  const struct {
    size_t kept;
    const char* sub;
  } places[] = {{strlen(absolute), ""},
                {strlen(absolute), "/lib"},
                {strlen(absolute), "/lib64"},
                {parent, "/lib"},
                {parent, "/lib64"}};
  for (const auto& place : places) {
    char candidate[4096];
    memcpy(candidate, absolute, place.kept);
    copy_text(candidate + place.kept, place.sub, sizeof candidate - place.kept);
    bool searched = false;
    for (const char* at = verdict->searched; *at && !searched; at += strlen(at) + 1)
      searched = strcmp(at, candidate) == 0;
    const size_t used = strlen(candidate);
    if (used + 2 + strlen(name) > sizeof candidate) continue;
    candidate[used] = '/';
    copy_text(candidate + used + 1, name, sizeof candidate - used - 1);
    if (!searched && platform_file_readable(candidate))
      add_place(verdict->elsewhere, sizeof verdict->elsewhere, candidate);
  }
}

// The Driver Manager's own search: the first file it can read is what it
// hands the loader, whatever that makes of it (found, its length; 0 where
// there is none). Each folder tried goes to tried, if given.
static size_t search_as_the_driver_manager(const char* value, const char* expanded, library_lookup* lookup, char* found,
                                           size_t cap, char* tried = nullptr, size_t tried_cap = 0) {
  platform_library_lookup(value, expanded, lookup);
  const folder_lists first = {lookup->first_readable, sizeof lookup->first_readable / sizeof lookup->first_readable[0]};
  return find_in_folders(lookup->name, first, platform_file_readable, found, cap, tried, tried_cap);
}

void check_library(loader_state& run, const char* value, const char* expanded, library_verdict* verdict) {
  set_verdict(verdict, verdict_missing);
  verdict->file[0] = verdict->road[0] = verdict->searched[0] = '\0';
  if (!value || value[0] == '\0') return;
  library_lookup lookup{};
  // Where it looked comes before where the loader looks.
  char found[4096];
  if (search_as_the_driver_manager(value, expanded, &lookup, found, sizeof found, verdict->searched,
                                   sizeof verdict->searched))
    load_library(run, found, verdict);
  else if (lookup.loader_search) load_library(run, lookup.name, verdict);
  keep_places_for_missing(verdict);
  if (verdict->kind == verdict_missing) note_elsewhere(value, verdict);
}

bool find_library_file(loader_state& run, const char* value, const char* expanded, char* file, size_t cap) {
  if (!value || value[0] == '\0') return false;
  library_lookup lookup{};
  char found[4096];
  if (search_as_the_driver_manager(value, expanded, &lookup, found, sizeof found))
    return platform_absolute_path(found, file, cap);
  return lookup.loader_search && locate_library(run, lookup.name, file, cap);
}

size_t find_in_folders(const char* name, folder_lists where, file_readable readable, char* found, size_t cap,
                       char* tried, size_t tried_cap) {
  const size_t name_length = strlen(name);
  for (size_t list = 0; list < where.count; ++list) {
    for (const char* entry = where.lists[list]; entry && *entry;) {
      const char* end = strchr(entry, ':');
      const size_t folder_length = end ? static_cast<size_t>(end - entry) : strlen(entry);
      // Folders too long for the buffer cannot be opened anyway.
      if (folder_length > 0 && folder_length + 1 + name_length < cap) {
        memcpy(found, entry, folder_length);
        found[folder_length] = '\0';
        char absolute[4096];
        if (tried)
          add_place(tried, tried_cap, platform_absolute_path(found, absolute, sizeof absolute) ? absolute : found);
        found[folder_length] = '/';
        memcpy(found + folder_length + 1, name, name_length + 1);
        if (readable(found)) return folder_length + 1 + name_length;
      }
      entry += end ? folder_length + 1 : folder_length;
    }
  }
  found[0] = '\0';
  return 0;
}

#include "library_check.h"

#include <cstring>

library_arch program_arch() {
#if defined(__x86_64__) || defined(_M_X64)
  return arch_x64;
#elif defined(__i386__) || defined(_M_IX86)
  return arch_x86;
#elif defined(__aarch64__) || defined(_M_ARM64)
  return arch_arm64;
#elif defined(__arm__) || defined(_M_ARM)
  return arch_arm;
#else
  return arch_other;
#endif
}

void check_library(const char* value, const char* expanded, library_verdict* verdict) {
  strcpy(verdict->word, "missing");
  verdict->file[0] = '\0';
  if (!value || value[0] == '\0') return;
  library_lookup lookup{};
  platform_library_lookup(value, expanded, &lookup);
  // The Driver Manager's own search first: the first file it can read is
  // what it hands the loader, whatever that makes of it.
  const size_t lists = sizeof lookup.first_readable / sizeof lookup.first_readable[0];
  char found[4096];
  if (find_in_folders(lookup.name, lookup.first_readable, lists, platform_file_readable, found, sizeof found)) {
    load_library(found, verdict);
  } else if (lookup.loader_search) {
    load_library(lookup.name, verdict);
  }
}

size_t find_in_folders(const char* name, const char* const* folder_lists, size_t list_count, file_readable readable,
                       char* found, size_t cap) {
  const size_t name_length = strlen(name);
  for (size_t list = 0; list < list_count; ++list) {
    for (const char* entry = folder_lists[list]; entry && *entry;) {
      const char* end = strchr(entry, ':');
      const size_t folder_length = end ? static_cast<size_t>(end - entry) : strlen(entry);
      // Folders too long for the buffer cannot be opened anyway.
      if (folder_length > 0 && folder_length + 1 + name_length < cap) {
        memcpy(found, entry, folder_length);
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

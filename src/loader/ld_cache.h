// glibc's loader cache (/etc/ld.so.cache), which ldconfig builds from the
// folders of /etc/ld.so.conf: the loader looks a bare library name up there
// by its SONAME, between LD_LIBRARY_PATH and its default folders.
#pragma once

#include <cstddef>

// The bytes of a cache file.
struct cache_file {
  const unsigned char* bytes;
  size_t size;
};

// What the loader looks up: a name, taking only entries whose flags are one
// of flags (0 ends them) and, of those built for a glibc-hwcaps subfolder,
// only subfolders the process searches (hwcaps: their names,
// NUL-separated, closed by an empty one, best first).
struct cache_query {
  const char* name;
  const unsigned* flags;
  const char* hwcaps;
};

// Looks a name up as glibc's loader does, and writes the path of the
// library it would try to path (cap bytes): false when there is none.
bool ld_cache_lookup(cache_file cache, const cache_query& query, char* path, size_t cap);

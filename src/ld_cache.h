// glibc's loader cache (/etc/ld.so.cache), which ldconfig builds from the
// folders of /etc/ld.so.conf: the loader looks a bare library name up there
// by its SONAME, between LD_LIBRARY_PATH and its default folders.
#pragma once

#include <cstddef>

// Looks name up in the bytes of a cache as glibc's loader does, taking
// only entries whose flags are one of accepted (0 ends them) and, of those
// built for a glibc-hwcaps subfolder, only subfolders the process searches
// (the names of hwcaps, NUL-separated, closed by an empty one, best first).
// Writes the path of the library it would try to path (cap bytes): false
// when there is none.
bool ld_cache_lookup(const unsigned char* cache, size_t size, const char* name, const unsigned accepted[2],
                     const char* hwcaps, char* path, size_t cap);

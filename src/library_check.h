// The check of a driver's library: is the file that the Driver Manager
// would load there, a shared library, and built for this program's
// architecture? It reads the file's first bytes only and never loads it.
#pragma once

#include <cstddef>

#include "platform/platform.h"

enum library_arch { arch_x86, arch_x64, arch_arm64, arch_arm, arch_other };

// The architecture this program is built for.
library_arch program_arch();

// Whether a file's first bytes are the headers of a shared library in the
// given format (a PE DLL; an ELF shared object), and if so for which
// architecture. Every offset is checked against length.
bool classify_library(const unsigned char* bytes, size_t length, library_format format,
                      library_arch* arch);

// The word for a library path as written on the line: "ok", "missing",
// "unreadable", "not-a-library" or "mismatch:ARCH". path is null or empty
// when the driver has no settings or no library value.
const char* check_library(const char* path);

// Whether a file can be read; the search's window on the file system.
typedef bool (*file_readable)(const char* path);

// Looks for a bare file name in folder lists, in order: each list holds
// folders separated by ':' (an empty folder is the current one); a null or
// empty list is passed over. Writes the first readable candidate to found
// and returns its length; 0 when there is none.
size_t find_in_folders(const char* name, const char* const* folder_lists, size_t list_count,
                       file_readable readable, char* found, size_t cap);

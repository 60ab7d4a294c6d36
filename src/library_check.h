// The check of a driver's library: would the Driver Manager load it? The
// file it would load is found as it and its loader find it, and that file
// and everything it needs are read from their headers; nothing is loaded.
#pragma once

#include <cstddef>

#include "loaded_object.h"
#include "platform/platform.h"

// What the check says of one driver's library.
struct library_verdict {
  // "ok", "missing", "unreadable", "not-a-library", "mismatch:ARCH", or of
  // something it needs: "missing-dependency:NAME",
  // "missing-version:NAME:VERSION", "mismatch-dependency:NAME:ARCH",
  // "unreadable-dependency:NAME", "not-a-library-dependency:NAME".
  char word[600];
  // The file the Driver Manager would load; empty when none was found.
  char file[4096];
};

// Checks the library of a driver's library value (null or empty when the
// driver has no settings or no value); expanded is the value as the tool
// writes it, a leading %WINDIR% expanded.
void check_library(const char* value, const char* expanded, library_verdict* verdict);

// Whether bytes are a library in the given format that this program's
// loader would map, and if so for which architecture (also when it is for
// another one).
bool classify_library(const unsigned char* bytes, size_t length, library_format format, library_arch* arch);

// Whether a file can be read; the Driver Manager's window on the file
// system.
typedef bool (*file_readable)(const char* path);

// Looks for a bare file name in folder lists, in order, as a Driver Manager
// that takes the first readable candidate does: each list holds folders
// separated by ':', empty ones dropped; a null or empty list is passed
// over. Writes the first readable candidate to found and returns its
// length; 0 when there is none.
size_t find_in_folders(const char* name, const char* const* folder_lists, size_t list_count, file_readable readable,
                       char* found, size_t cap);

// The loader's model, behind the check.

// Loads name as this process's loader would when the Driver Manager asks
// for it, and says so in verdict: a path is opened as it stands, a bare
// name searched for as the loader searches it.
void load_library(const char* name, library_verdict* verdict);

// Forgets every file read so far, so that the next check reads them again.
void forget_loaded_libraries();

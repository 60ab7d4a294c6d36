// The check of a driver's library: would the Driver Manager load it? The
// file it would load is found as it and its loader find it, and that file
// and everything it needs are read from their headers; nothing is loaded.
#pragma once

#include <cstddef>

#include "loader/loader.h"

// Checks the library of a driver's library value (null or empty when the
// driver has no settings or no value); expanded is the value as the tool
// writes it, a leading %WINDIR% expanded. What the run has read is kept in
// run for the next check.
void check_library(loader_state& run, const char* value, const char* expanded, library_verdict* verdict);

// The file the Driver Manager would load for a library value, found as
// the check finds it but without the load, as an absolute path into file
// (cap bytes); false when there is none.
bool find_library_file(loader_state& run, const char* value, const char* expanded, char* file, size_t cap);

// Whether a file can be read; the Driver Manager's window on the file
// system.
typedef bool (*file_readable)(const char* path);

// Folder lists searched in order, as a Driver Manager that takes the first
// readable candidate does: each list holds folders separated by ':', empty
// ones dropped; a null or empty list is passed over.
struct folder_lists {
  const char* const* lists;
  size_t count;
};

// Looks for a bare file name in the lists: writes the first readable
// candidate to found (cap bytes) and returns its length; 0 when there is
// none. Each folder tried is added to tried (a verdict's list), if given.
size_t find_in_folders(const char* name, folder_lists where, file_readable readable, char* found, size_t cap,
                       char* tried = nullptr, size_t tried_cap = 0);

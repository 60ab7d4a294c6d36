// What the Unix layer knows of the Driver Manager it is built against, in
// one file per Driver Manager that the build chooses:
// driver-manager-unixodbc.cc and driver-manager-iodbc.cc. A third Driver
// Manager is a third such file.
#pragma once

#include <cstddef>

// The installer library that reads odbcinst.ini, loaded at run time.
extern const char driver_manager_installer_library[];

// Whether the attribute list of SQLDrivers holds the entries of the
// driver's section, so that its library may be taken from there.
extern const bool driver_manager_lists_settings;

// The entries of a driver's section that name its library, in the order
// the Driver Manager tries them, ending with a null one. An empty entry
// counts as absent, unless it is the last.
extern const char* const driver_manager_library_entries[];

// The file the Driver Manager would load for a library value; its length,
// 0 when none is found (as platform_find_library).
size_t driver_manager_find_library(const char* value, char* found, size_t cap);

// How many drivers odbcinst.ini holds that SQLDrivers should list; -1 when
// it lists them all.
int driver_manager_count_drivers();

// Services of the Unix layer for those files.

// The folder "odbc" beside the Driver Manager's library that is loaded;
// empty when that cannot be located.
const char* driver_manager_drivers_folder();

// The dynamic loader's folders after LD_LIBRARY_PATH, ':'-separated.
const char* loader_folders();

bool readable(const char* path);

// Copies value to found when it fits; returns its length.
size_t copy_path(const char* value, char* found, size_t cap);

// The names of odbcinst.ini's sections, NUL-separated and closed by an
// empty name, in a block the caller frees; null when it cannot be read.
char* read_section_names();

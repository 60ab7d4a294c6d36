// What the Unix layer knows of the Driver Manager it is built against, in
// one file per Driver Manager that the build chooses:
// driver-manager-unixodbc.cc and driver-manager-iodbc.cc. A third Driver
// Manager is a third such file.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// The installer library that reads odbcinst.ini, loaded at run time.
extern const char driver_manager_installer_library[];

// Whether the attribute list of SQLDrivers holds the entries of the
// driver's section, so that its library may be taken from there.
extern const bool driver_manager_lists_settings;

// The entries of a driver's section that name its library, in the order
// the Driver Manager tries them, ending with a null one. An empty entry
// counts as absent, unless it is the last.
extern const char* const driver_manager_library_entries[];

// What the Driver Manager asks its loader for, for a library value (as
// platform_library_lookup).
void driver_manager_library_lookup(const char* value, library_lookup* lookup);

// What the Driver Manager looks up in a driver's library before it can use
// it (as platform_driver_entry_points).
void driver_manager_entry_points(const char* library, driver_entry_points* points);

// How many drivers the installer's files hold that SQLDrivers should list,
// where it may have left some out (as platform_count_installed_drivers).
int driver_manager_count_drivers(int listed, size_t listed_bytes, bool names_cut);

// For a listing that holds no driver: which installer files the Driver
// Manager reads, on standard error.
void driver_manager_describe_installer_file();

// Services of the Unix layer for those files.

// The folder "odbc" beside the Driver Manager's library that is loaded;
// empty when that cannot be located.
const char* driver_manager_drivers_folder();

// A symbol of the installer library, loaded on first use; null when either
// is missing.
void* installer_symbol(const char* name);

// Reads from odbcinst.ini as SQLGetPrivateProfileString does; false when
// the installer library is missing.
bool read_installer_file(const char* section, const char* entry, const char* fallback, char* value, int capacity);

// The names of odbcinst.ini's sections, NUL-separated and closed by an
// empty name, in a block the caller frees; null when it cannot be read.
char* read_section_names();

// Writes the warning of an empty listing: the files named (either may be
// null), each marked when it does not exist.
void describe_installer_files(const char* first, const char* second);

// Data sources, as the Driver Manager resolves them (as
// platform_resolve_source and platform_source_settings).
void driver_manager_resolve_source(const char* dsn, source_resolution* resolution);
bool driver_manager_source_settings(const char* dsn, bool user, char* out, size_t cap);

// The installer library's reads of odbc.ini and odbcinst.ini in a
// configuration mode (odbcinst.h's numbers),
// as SQLSetConfigMode then SQLGetPrivateProfileString; false (value empty)
// when the installer library is missing.
enum { ODBC_BOTH_DSN = 0, ODBC_USER_DSN = 1, ODBC_SYSTEM_DSN = 2 };
bool read_profile(int mode, const char* section, const char* entry, const char* file, char* value, int capacity);

// A source's entries in one file of a mode, as platform_source_settings.
bool read_source_settings(int mode, const char* dsn, const char* file, char* out, size_t cap);

// iODBC, the Driver Manager of macOS applications, also packaged by Debian.
// Seen with Debian's iODBC 3.52.9: SQLDrivers lists the entries of the
// [ODBC Drivers] section whose value is "Installed" (in any case), sorted,
// each with the attribute list "Installed"; a driver's library is its
// section's "Driver" entry alone (Driver64 means nothing to it).
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/driver_manager.h"

#ifdef __APPLE__
const char driver_manager_installer_library[] = "libiodbcinst.2.dylib";
#else
const char driver_manager_installer_library[] = "libiodbcinst.so.2";
#endif

const bool driver_manager_lists_settings = false;

const char* const driver_manager_library_entries[] = {"Driver", nullptr};

// A value that starts with '/' or '.' is handed to dlopen as it stands (so
// "./x.so" is relative to the working folder, and ".x.so" a bare name the
// loader searches); any other is placed in iODBC's folder of drivers. Of
// the whole, dlopen gets the first 1,023 characters.
void driver_manager_library_lookup(const char* value, library_lookup* lookup) {
  static char name[1024];
  const char* folder = driver_manager_drivers_folder();
  lookup->name = name;
  lookup->loader_search = value[0] == '/' || value[0] == '.' || folder[0];
  if (value[0] == '/' || value[0] == '.') snprintf(name, sizeof name, "%s", value);
  else snprintf(name, sizeof name, "%s/%s", folder, value);
}

// Before it calls a driver it needs an environment: SQLAllocHandle, else
// SQLAllocEnv (IM004 without), each dlsym'ed as it stands.
void driver_manager_entry_points(const char*, driver_entry_points* points) {
  static const char names[] = "SQLAllocHandle\0SQLAllocEnv\0";
  memcpy(points->names, names, sizeof names);
  points->own_library = "libiodbc.so.2\0libodbc.so.2\0";
}

// It lists, of each file, the [ODBC Drivers] entries named in its first
// 4,096 bytes of names, each counted with its NUL, whose value is
// "Installed", and no more than 512 in all. Counting means reading each
// entry's value, so that waits until the names listed leave less room than
// one more name of 254 characters, or reach 512.
int driver_manager_count_drivers(int listed, size_t listed_bytes, bool names_cut) {
  if (!names_cut && listed < 512 && listed_bytes + 255 <= 4097) return -1;
  enum { names_capacity = 65536 };
  char* names = static_cast<char*>(calloc(names_capacity, 1));
  if (!names || !read_installer_file("ODBC Drivers", nullptr, "", names, names_capacity - 1)) {
    free(names);
    return -1;
  }
  int count = 0;
  for (const char* name = names; *name; name += strlen(name) + 1) {
    char value[64] = "";
    // Names it never lists: with a quote, a leading blank or a bracket.
    if (strchr(name, '"') || name[0] == ' ' || name[0] == '\t' || name[0] == '[') continue;
    read_installer_file("ODBC Drivers", name, "", value, sizeof value);
    const char* start = value + strspn(value, " \t");
    size_t length = strlen(start);
    while (length > 0 && (start[length - 1] == ' ' || start[length - 1] == '\t')) --length;
    if (length == 9 && strncasecmp(start, "Installed", 9) == 0) ++count;
  }
  free(names);
  return count;
}

// It reads the file ODBCINSTINI names when that can be read, else the
// user's ~/.odbcinst.ini; and SYSODBCINSTINI when that can be read, else
// /etc/odbcinst.ini.
void driver_manager_describe_installer_file() {
  static char user[8192];
  const char* named = getenv("ODBCINSTINI");
  if (named && access(named, R_OK) == 0) {
    snprintf(user, sizeof user, "%s", named);
  } else {
    const char* home = getenv("HOME");
    const passwd* account = home ? nullptr : getpwuid(getuid());
    snprintf(user, sizeof user, "%s/.odbcinst.ini", home ? home : account ? account->pw_dir : "");
  }
  const char* system = getenv("SYSODBCINSTINI");
  if (!system || access(system, R_OK) != 0) system = "/etc/odbcinst.ini";
  describe_installer_files(user, system);
}

// iODBC's lookup of a source's library (SQLConnect, _iodbcdm_driverload):
// its Driver entry from odbc.ini; a name that starts with neither '/' nor
// '.' is a driver of odbcinst.ini (braces taken off), else taken for a
// library all the same.
void driver_manager_resolve_source(const char* dsn, source_resolution* resolution) {
  read_profile(ODBC_BOTH_DSN, dsn, "Driver", "odbc.ini", resolution->driver, sizeof resolution->driver);
  resolution->outcome = source_names_no_driver;
  if (!resolution->driver[0]) return;
  resolution->outcome = source_library_found;
  char name[sizeof resolution->driver];
  snprintf(name, sizeof name, "%s", resolution->driver);
  if (name[0] == '/' || name[0] == '.') {
    snprintf(resolution->library, sizeof resolution->library, "%s", name);
    return;
  }
  char* bare = name;
  if (bare[0] == '{') {
    ++bare;
    const size_t length = strlen(bare);
    if (length > 0 && bare[length - 1] == '}') bare[length - 1] = '\0';
  }
  read_profile(ODBC_BOTH_DSN, bare, "Driver", "odbcinst.ini", resolution->library, sizeof resolution->library);
  if (resolution->library[0]) return;
  resolution->outcome = source_driver_unknown;
  snprintf(resolution->library, sizeof resolution->library, "%s", bare);
}

bool driver_manager_source_settings(const char* dsn, bool user, char* out, size_t cap) {
  return read_source_settings(user ? ODBC_USER_DSN : ODBC_SYSTEM_DSN, dsn, "odbc.ini", out, cap);
}

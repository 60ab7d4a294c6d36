// iODBC, the Driver Manager of macOS applications, also packaged by Debian.
// Seen with Debian's iODBC 3.52.9: SQLDrivers lists the entries of the
// [ODBC Drivers] section whose value is "Installed" (in any case), sorted,
// each with the attribute list "Installed"; a driver's library is its
// section's "Driver" entry alone (Driver64 means nothing to it).
#include <cstdio>

#include "driver_manager.h"

#ifdef __APPLE__
const char driver_manager_installer_library[] = "libiodbcinst.2.dylib";
#else
const char driver_manager_installer_library[] = "libiodbcinst.so.2";
#endif

const bool driver_manager_lists_settings = false;

const char* const driver_manager_library_entries[] = {"Driver", nullptr};

// An absolute path is loaded as it is; any other value, bare or not, is
// taken relative to iODBC's folder of drivers, with no search by the
// dynamic loader.
size_t driver_manager_find_library(const char* value, char* found, size_t cap) {
  if (value[0] == '/') return copy_path(value, found, cap);
  const char* folder = driver_manager_drivers_folder();
  if (!folder[0]) return 0;
  const int length = snprintf(found, cap, "%s/%s", folder, value);
  return length < 0 ? 0 : static_cast<size_t>(length);
}

// It lists every driver of its [ODBC Drivers] section.
int driver_manager_count_drivers() { return -1; }

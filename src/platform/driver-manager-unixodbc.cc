// unixODBC, the Driver Manager of most Linux distributions.
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "driver_manager.h"
#include "library_check.h"

#ifdef __APPLE__
const char driver_manager_installer_library[] = "libodbcinst.2.dylib";
#else
const char driver_manager_installer_library[] = "libodbcinst.so.2";
#endif

// Its SQLDrivers returns the section's entries as it parsed them.
const bool driver_manager_lists_settings = true;

// A 64-bit unixODBC loads Driver64 when a section has one that is not empty.
const char* const driver_manager_library_entries[] = {
    sizeof(void*) == 8 ? "Driver64" : "Driver", sizeof(void*) == 8 ? "Driver" : nullptr, nullptr};

// A value with a '/' is a path. A bare name is tried in unixODBC's folder
// of drivers first (it checks that the file is readable there), then left
// to the dynamic loader's search.
size_t driver_manager_find_library(const char* value, char* found, size_t cap) {
  if (strchr(value, '/')) return copy_path(value, found, cap);
  const char* const folder_lists[] = {driver_manager_drivers_folder(), getenv("LD_LIBRARY_PATH"),
                                      loader_folders()};
  return find_in_folders(value, folder_lists, 3, readable, found, cap);
}

// It lists every section but its own [ODBC], yet only as many names as fit
// in about 1 KB.
int driver_manager_count_drivers() {
  char* sections = read_section_names();
  if (!sections) return -1;
  int count = 0;
  for (const char* name = sections; *name; name += strlen(name) + 1)
    if (strcasecmp(name, "ODBC") != 0) ++count;
  free(sections);
  return count;
}

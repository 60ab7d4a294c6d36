// unixODBC, the Driver Manager of most Linux distributions.
#include <dlfcn.h>
#include <strings.h>

#include <cctype>
#include <initializer_list>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/driver_manager.h"

#ifdef __APPLE__
const char driver_manager_installer_library[] = "libodbcinst.2.dylib";
#else
const char driver_manager_installer_library[] = "libodbcinst.so.2";
#endif

// Its SQLDrivers returns the section's entries as it parsed them.
const bool driver_manager_lists_settings = true;

// A 64-bit unixODBC loads Driver64 when a section has one that is not empty.
const char* const driver_manager_library_entries[] = {sizeof(void*) == 8 ? "Driver64" : "Driver",
                                                      sizeof(void*) == 8 ? "Driver" : nullptr, nullptr};

// libltdl's own search path, which its build compiled in (on Debian a
// string that begins "/lib:/usr/lib:"): read from the libltdl this process
// loaded. Empty when it cannot be found.
static const char* libltdl_search_path() {
  static char path[4096];
  static bool read = false;
  if (read) return path;
  read = true;
  Dl_info info;
  void* symbol = dlsym(RTLD_DEFAULT, "lt_dlopen");
  FILE* library = symbol && dladdr(symbol, &info) && info.dli_fname ? fopen(info.dli_fname, "rb") : nullptr;
  if (!library) return path;
  enum { library_limit = 1 << 20 };
  char* bytes = static_cast<char*>(malloc(library_limit + 1));
  const size_t length = bytes ? fread(bytes, 1, library_limit, library) : 0;
  fclose(library);
  static const char start[] = "/lib:/usr/lib";
  for (size_t at = 1; at + sizeof start <= length; ++at) {
    if (bytes[at - 1] != '\0' || memcmp(bytes + at, start, sizeof start - 1) != 0) continue;
    const size_t end = strnlen(bytes + at, length - at);
    if (end < sizeof path && at + end < length) memcpy(path, bytes + at, end + 1);
    break;
  }
  free(bytes);
  return path;
}

// A value with a '/' is handed to dlopen as it stands. For a bare name,
// unixODBC makes its folder of drivers libltdl's search path; libltdl then
// tries that folder, LTDL_LIBRARY_PATH, LD_LIBRARY_PATH (split at ':'
// only) and its own path, and dlopens the first readable candidate,
// whatever becomes of it; only when none is readable does glibc search.
void driver_manager_library_lookup(const char* value, library_lookup* lookup) {
  lookup->name = value;
  lookup->loader_search = true;
  if (strchr(value, '/')) return;
  lookup->first_readable[0] = driver_manager_drivers_folder();
  lookup->first_readable[1] = getenv("LTDL_LIBRARY_PATH");
  lookup->first_readable[2] = getenv("LD_LIBRARY_PATH");
  lookup->first_readable[3] = libltdl_search_path();
}

// Before it calls a driver it needs an environment: SQLAllocHandle, else
// SQLAllocEnv (IM004 without). libltdl looks each up as
// MODULE_LTX_NAME first (MODULE: the file's name without its last
// extension, other than letters and digits as '_'), and unixODBC takes no
// function of its own for the driver's.
void driver_manager_entry_points(const char* library, driver_entry_points* points) {
  char module[256] = "";
  const char* name = strrchr(library, '/') ? strrchr(library, '/') + 1 : library;
  size_t length = strrchr(name, '.') ? static_cast<size_t>(strrchr(name, '.') - name) : strlen(name);
  if (length >= sizeof module - 1) length = sizeof module - 1;
  for (size_t i = 0; i < length; ++i) module[i] = isalnum(static_cast<unsigned char>(name[i])) ? name[i] : '_';
  module[length] = '\0';
  size_t used = 0;
  for (const char* function : {"SQLAllocHandle", "SQLAllocEnv"}) {
    const int written = snprintf(points->names + used, sizeof points->names - used - 1, "%s_LTX_%s%c%s", module,
                                 function, '\0', function);
    if (written > 0 && used + static_cast<size_t>(written) + 2 < sizeof points->names)
      used += static_cast<size_t>(written) + 1;
  }
  points->names[used] = '\0';
  points->own_library = "libodbc.so.2\0libiodbc.so.2\0";
}

// It lists every section but its own [ODBC], yet only while the names,
// each counted with its NUL, fit in 1,024 bytes. Counting them means
// parsing odbcinst.ini once more, so that waits until the names listed
// leave less room than one more name of 254 characters, the longest that
// SQLDrivers returns whole.
int driver_manager_count_drivers(int, size_t listed_bytes, bool names_cut) {
  if (!names_cut && listed_bytes + 255 <= 1024) return -1;
  char* sections = read_section_names();
  if (!sections) return -1;
  int count = 0;
  for (const char* name = sections; *name; name += strlen(name) + 1)
    if (strcasecmp(name, "ODBC") != 0) ++count;
  free(sections);
  return count;
}

// Its system file is ODBCINSTINI (or odbcinst.ini) in the folder ODBCSYSINI
// names (or its own); it merges the user's ~/.odbcinst.ini. Its installer
// library builds both names.
void driver_manager_describe_installer_file() {
  typedef char* (*name_part)(char* buffer);
  static const char* const parts[] = {"odbcinst_system_file_path", "odbcinst_system_file_name",
                                      "odbcinst_user_file_path", "odbcinst_user_file_name"};
  char files[2][8200] = {"", ""};
  for (int file = 0; file < 2; ++file) {
    char folder[8192] = "", name[8192] = "";
    const name_part folder_part = reinterpret_cast<name_part>(installer_symbol(parts[2 * file]));
    const name_part name_part_of = reinterpret_cast<name_part>(installer_symbol(parts[2 * file + 1]));
    if (!folder_part || !name_part_of) continue;
    const char* folder_text = folder_part(folder);
    const char* name_text = name_part_of(name);
    snprintf(files[file], sizeof files[file], "%s/%s", folder_text, name_text);
  }
  describe_installer_files(files[0][0] ? files[0] : nullptr, files[1][0] ? files[1] : nullptr);
}

// unixODBC's lookup of a source's library (__find_lib_name): its Driver
// entry from the user's odbc.ini, else the system's; a name that is no
// path is a driver of odbcinst.ini, its library the entries above. False
// where it finds none.
static bool find_library_name(const char* dsn, source_resolution* resolution) {
  read_profile(ODBC_USER_DSN, dsn, "Driver", "ODBC.INI", resolution->driver, sizeof resolution->driver);
  if (!resolution->driver[0])
    read_profile(ODBC_SYSTEM_DSN, dsn, "Driver", "ODBC.INI", resolution->driver, sizeof resolution->driver);
  resolution->outcome = source_names_no_driver;
  if (!resolution->driver[0]) return false;
  resolution->outcome = source_library_found;
  if (resolution->driver[0] == '/') {
    snprintf(resolution->library, sizeof resolution->library, "%s", resolution->driver);
    return true;
  }
  for (const char* const* entry = driver_manager_library_entries; *entry && !resolution->library[0]; ++entry)
    read_profile(ODBC_BOTH_DSN, resolution->driver, *entry, "ODBCINST.INI", resolution->library,
                 sizeof resolution->library);
  if (!resolution->library[0]) resolution->outcome = source_driver_unknown;
  return resolution->library[0] != '\0';
}

void driver_manager_resolve_source(const char* dsn, source_resolution* resolution) {
  if (find_library_name(dsn, resolution)) return;
  // SQLConnect, as isql calls it, goes on to the source named DEFAULT.
  source_resolution fallback{};
  if (!find_library_name("DEFAULT", &fallback)) return;
  resolution->outcome = source_library_found;
  resolution->used_default = true;
  memcpy(resolution->library, fallback.library, sizeof resolution->library);
}

bool driver_manager_source_settings(const char* dsn, bool user, char* out, size_t cap) {
  return read_source_settings(user ? ODBC_USER_DSN : ODBC_SYSTEM_DSN, dsn, "ODBC.INI", out, cap);
}

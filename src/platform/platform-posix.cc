// Linux and other unixODBC systems: the installer's settings of a driver are
// the section of odbcinst.ini named by its description, read through
// unixODBC's installer library. ELF libraries carry no version resource.
#include <odbcinst.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "platform.h"

static const char installer_file[] = "odbcinst.ini";

// unixODBC cuts a value it parses at 1000 characters, and fills a buffer
// that is too small with garbage instead of a cut value, so every read
// goes through buffers that hold anything it can return.
enum { ini_read_capacity = 4096, section_list_capacity = 65536 };

// The entry naming the library of the open section; empty for none.
static const char* library_entry = "";

void platform_read_environment(const char* name, char* buf, size_t cap) {
  const char* value = getenv(name);
  const size_t length = value ? strlen(value) : cap;
  if (length < cap)
    memcpy(buf, value, length + 1);
  else
    buf[0] = '\0';
}

// Whether a NUL-separated list, closed by an empty name, holds name
// (compared as unixODBC compares them: case ignored).
static bool list_holds(const char* list, const char* name) {
  for (const char* item = list; *item; item += strlen(item) + 1)
    if (strcasecmp(item, name) == 0) return true;
  return false;
}

// An empty section lists no entries, just like a missing one; only the list
// of sections tells them apart.
static bool section_exists(const char* section) {
  char* sections = static_cast<char*>(calloc(section_list_capacity, 1));
  if (!sections) return false;
  SQLGetPrivateProfileString(nullptr, nullptr, "", sections, section_list_capacity - 1,
                             installer_file);
  const bool found = list_holds(sections, section);
  free(sections);
  return found;
}

bool platform_open_driver_key(const char* description, driver_key* key) {
  char entries[ini_read_capacity] = {};
  SQLGetPrivateProfileString(description, nullptr, "", entries, sizeof entries - 1,
                             installer_file);
  if (entries[0] == '\0' && !section_exists(description)) return false;

  // A 64-bit unixODBC loads Driver64 when a section has one.
  if (sizeof(void*) == 8 && list_holds(entries, "Driver64"))
    library_entry = "Driver64";
  else if (list_holds(entries, "Driver"))
    library_entry = "Driver";
  else
    library_entry = "";
  *key = const_cast<char*>(description);
  return true;
}

size_t platform_read_driver_value(driver_key key, char* buf, size_t cap) {
  char value[ini_read_capacity] = {};
  if (library_entry[0] != '\0')
    SQLGetPrivateProfileString(static_cast<const char*>(key), library_entry, "", value,
                               sizeof value - 1, installer_file);
  const size_t length = strlen(value);
  if (length < cap) {
    memcpy(buf, value, length + 1);
  } else {
    memcpy(buf, value, cap - 1);
    buf[cap - 1] = '\0';
  }
  return length;
}

void platform_close_driver_key(driver_key) { library_entry = ""; }

size_t platform_version_size(const char*) { return 0; }

bool platform_read_version(const char*, size_t, void*) { return false; }

bool platform_find_version_record(const void*, const void**, size_t*) { return false; }

// Linux and other unixODBC systems: the installer's settings of a driver are
// the section of odbcinst.ini named by its description, as the Driver
// Manager lists them or, failing that, as unixODBC's installer library reads
// them. ELF libraries carry no version resource.
#include <dlfcn.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "platform.h"

static const char installer_file[] = "odbcinst.ini";

// unixODBC cuts a value it parses at 1000 characters, and fills a buffer
// that is too small with garbage instead of a cut value, so every read
// goes through buffers that hold anything it can return.
enum { ini_read_capacity = 4096, section_list_capacity = 65536 };

// The library path of the open section, read when it was opened.
static char library_path[ini_read_capacity];

// unixODBC's SQLGetPrivateProfileString. Its library is loaded only when a
// section must be read from the file, which few are: a listing pays for
// nothing it does not use. Null when the library cannot be loaded.
typedef int (*profile_reader)(const char* section, const char* entry, const char* fallback,
                              char* value, int capacity, const char* file);

static profile_reader installer_reader() {
  static bool tried = false;
  static profile_reader reader = nullptr;
  if (!tried) {
    tried = true;
    if (void* library = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_LOCAL))
      reader = reinterpret_cast<profile_reader>(dlsym(library, "SQLGetPrivateProfileString"));
  }
  return reader;
}

// Reads from odbcinst.ini into value, as SQLGetPrivateProfileString does;
// false when the installer library is missing.
static bool read_installer_file(const char* section, const char* entry, const char* fallback,
                                char* value, int capacity) {
  const profile_reader reader = installer_reader();
  if (!reader) return false;
  reader(section, entry, fallback, value, capacity, installer_file);
  return true;
}

size_t platform_read_environment(const char* name, char* buf, size_t cap) {
  const char* value = getenv(name);
  const size_t length = value ? strlen(value) : 0;
  const size_t copied = length < cap ? length : cap - 1;
  if (copied) memcpy(buf, value, copied);
  buf[copied] = '\0';
  return length;
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
  const bool found =
      read_installer_file(nullptr, nullptr, "", sections, section_list_capacity - 1) &&
      list_holds(sections, section);
  free(sections);
  return found;
}

// Reads one entry of a section into value; false when the entry (or the
// section) is missing. Every call parses the file again, so callers ask for
// as few entries as they can.
static bool read_entry(const char* section, const char* entry, char* value) {
  // No entry's value can hold a newline, so this default tells a missing
  // entry from an empty one.
  static const char missing[] = "\n";
  value[0] = '\0';
  if (read_installer_file(section, entry, missing, value, ini_read_capacity - 1) &&
      strcmp(value, missing) != 0)
    return true;
  value[0] = '\0';
  return false;
}

// Finds an entry in the Driver Manager's attribute list of a section, which
// holds its entries as keyword=value, names compared as unixODBC compares
// them.
static bool find_listed_entry(const char* listed, const char* entry, char* value) {
  const size_t entry_length = strlen(entry);
  for (const char* item = listed; *item; item += strlen(item) + 1) {
    if (strncasecmp(item, entry, entry_length) != 0 || item[entry_length] != '=') continue;
    const char* found = item + entry_length + 1;
    const size_t length = strnlen(found, ini_read_capacity - 1);
    memcpy(value, found, length);
    value[length] = '\0';
    return true;
  }
  return false;
}

bool platform_open_driver_key(const char* description, const char* listed_settings,
                              driver_key* key) {
  // The list that SQLDrivers returned is the section as unixODBC just read
  // it: taken from there, the library costs no second parse of
  // odbcinst.ini. An empty list may stand for a missing section, so that
  // goes to the file, unless the name is cut and the file cannot be asked.
  const bool listed = listed_settings && (listed_settings[0] != '\0' || !description);
  if (!listed && !description) return false;
  auto find = [&](const char* entry) {
    return listed ? find_listed_entry(listed_settings, entry, library_path)
                  : read_entry(description, entry, library_path);
  };
  // A 64-bit unixODBC loads Driver64 when a section has one that is not
  // empty.
  const bool found =
      (sizeof(void*) == 8 && find("Driver64") && library_path[0] != '\0') || find("Driver");
  if (!found) {
    library_path[0] = '\0';
    // A listed section exists; an entry read from the file proves it too.
    if (!listed && !section_exists(description)) return false;
  }
  *key = library_path;
  return true;
}

size_t platform_read_driver_value(driver_key key, char* buf, size_t cap) {
  const char* value = static_cast<const char*>(key);
  const size_t length = strlen(value);
  if (length < cap) {
    memcpy(buf, value, length + 1);
  } else {
    memcpy(buf, value, cap - 1);
    buf[cap - 1] = '\0';
  }
  return length;
}

void platform_close_driver_key(driver_key) {}

size_t platform_version_size(const char*) { return 0; }

bool platform_read_version(const char*, size_t, void*) { return false; }

bool platform_find_version_record(const void*, const void**, size_t*) { return false; }

// Linux and other Unix systems: the installer's settings of a driver are the
// section of odbcinst.ini named by its description, as the Driver Manager
// lists them or, failing that, as its installer library reads them. What
// differs between Driver Managers is in driver_manager.h. ELF libraries
// carry no version resource.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver_manager.h"
#include "library_check.h"
#include "line_writer.h"
#include "platform.h"
#include "platform/odbc.h"

static const char installer_file[] = "odbcinst.ini";

// unixODBC cuts a value it parses at 1000 characters, and fills a buffer
// that is too small with garbage instead of a cut value, so every read
// goes through buffers that hold anything an installer library returns.
enum { ini_read_capacity = 4096, section_list_capacity = 65536 };

// The library path of the open section, read when it was opened.
static char library_path[ini_read_capacity];

// The installer library's SQLGetPrivateProfileString. It is loaded only
// when a section must be read from the file, which with unixODBC few are:
// a listing pays for nothing it does not use. Null when the library cannot
// be loaded.
typedef int (*profile_reader)(const char* section, const char* entry, const char* fallback,
                              char* value, int capacity, const char* file);

static const char* driver_manager_library_folder();

static profile_reader installer_reader() {
  static bool tried = false;
  static profile_reader reader = nullptr;
  if (!tried) {
    tried = true;
    // Beside the Driver Manager's library first: it need not be in the
    // loader's search path (Homebrew's folder on macOS is not).
    char path[8192];
    snprintf(path, sizeof path, "%s/%s", driver_manager_library_folder(),
             driver_manager_installer_library);
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) library = dlopen(driver_manager_installer_library, RTLD_NOW | RTLD_LOCAL);
    if (library)
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

char* read_section_names() {
  char* sections = static_cast<char*>(calloc(section_list_capacity, 1));
  if (sections && !read_installer_file(nullptr, nullptr, "", sections, section_list_capacity - 1)) {
    free(sections);
    return nullptr;
  }
  return sections;
}

// An empty section lists no entries, just like a missing one; only the list
// of sections tells them apart.
static bool section_exists(const char* section) {
  char* sections = read_section_names();
  const bool found = sections && list_holds(sections, section);
  free(sections);
  return found;
}

int platform_count_installed_drivers() { return driver_manager_count_drivers(); }

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
  // Where the list that SQLDrivers returned is the section as the Driver
  // Manager just read it, the library taken from there costs no second
  // parse of odbcinst.ini. An empty list may stand for a missing section, so
  // that goes to the file, unless the name is cut and the file cannot be
  // asked.
  if (!driver_manager_lists_settings) listed_settings = nullptr;
  const bool listed = listed_settings && (listed_settings[0] != '\0' || !description);
  if (!listed && !description) return false;
  auto find = [&](const char* entry) {
    return listed ? find_listed_entry(listed_settings, entry, library_path)
                  : read_entry(description, entry, library_path);
  };
  bool found = false;
  for (const char* const* entry = driver_manager_library_entries; *entry && !found; ++entry)
    found = find(*entry) && (library_path[0] != '\0' || !entry[1]);
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

library_format platform_library_format() { return format_elf; }

// The folder of the Driver Manager's library that is loaded; empty when it
// cannot be located.
static const char* driver_manager_library_folder() {
  static char folder[4096];
  static bool located = false;
  if (!located) {
    located = true;
    Dl_info info;
    void* symbol = dlsym(RTLD_DEFAULT, "SQLDrivers");
    const char* slash = symbol && dladdr(symbol, &info) && info.dli_fname
                            ? strrchr(info.dli_fname, '/')
                            : nullptr;
    if (slash && static_cast<size_t>(slash - info.dli_fname) < sizeof folder)
      memcpy(folder, info.dli_fname, static_cast<size_t>(slash - info.dli_fname));
  }
  return folder;
}

// libdir/odbc beside the Driver Manager's library, as both unixODBC and
// iODBC are built.
const char* driver_manager_drivers_folder() {
  static char folder[4096 + sizeof "/odbc"];
  if (!folder[0] && driver_manager_library_folder()[0])
    snprintf(folder, sizeof folder, "%s/odbc", driver_manager_library_folder());
  return folder;
}

// The dynamic loader's folders: those of its configuration (which its cache
// indexes), then its defaults.
enum { loader_folders_capacity = 16384 };
static char loader_folder_list[loader_folders_capacity];

static void append_folder(const char* folder, size_t length) {
  const size_t used = strlen(loader_folder_list);
  if (used + 1 + length >= sizeof loader_folder_list) return;
  loader_folder_list[used] = ':';
  memcpy(loader_folder_list + used + 1, folder, length);
  loader_folder_list[used + 1 + length] = '\0';
}

// Adds the folders a loader configuration file names, following its
// include lines.
static void add_loader_config(const char* file, int depth) {
  FILE* config = depth < 8 ? fopen(file, "r") : nullptr;
  if (!config) return;
  char line[4096];
  while (fgets(line, sizeof line, config)) {
    line[strcspn(line, "#\n")] = '\0';
    char* words = line + strspn(line, " \t");
    if (strncmp(words, "include", 7) == 0 && (words[7] == ' ' || words[7] == '\t')) {
      char* pattern = words + 8 + strspn(words + 8, " \t");
      pattern[strcspn(pattern, " \t")] = '\0';
      // A relative pattern is relative to the including file's folder.
      char full[8192];
      const char* slash = strrchr(file, '/');
      const int folder = pattern[0] == '/' || !slash ? 0 : static_cast<int>(slash - file + 1);
      snprintf(full, sizeof full, "%.*s%s", folder, file, pattern);
      glob_t matches;
      if (glob(full, 0, nullptr, &matches) == 0)
        for (size_t i = 0; i < matches.gl_pathc; ++i) add_loader_config(matches.gl_pathv[i], depth + 1);
      globfree(&matches);
      continue;
    }
    if (strncmp(words, "hwcap", 5) == 0) continue;
    for (char* folder = strtok(words, " \t:,="); folder; folder = strtok(nullptr, " \t:,="))
      if (folder[0] == '/') append_folder(folder, strlen(folder));  // not an old type after '='
  }
  fclose(config);
}

const char* loader_folders() {
  static bool read = false;
  if (!read) {
    read = true;
    add_loader_config("/etc/ld.so.conf", 0);
    static const char defaults[] = "/lib64:/usr/lib64:/lib:/usr/lib";
    // A 32-bit program's defaults are the last two.
    const size_t skipped = sizeof(void*) == 8 ? 0 : strlen("/lib64:/usr/lib64:");
    append_folder(defaults + skipped, strlen(defaults + skipped));
  }
  return loader_folder_list + 1;
}

bool readable(const char* path) { return access(path, R_OK) == 0; }

size_t copy_path(const char* value, char* found, size_t cap) {
  const size_t length = strlen(value);
  if (length < cap) memcpy(found, value, length + 1);
  return length;
}

size_t platform_find_library(const char* value, char* found, size_t cap) {
  return driver_manager_find_library(value, found, cap);
}

long platform_read_file_head(const char* path, void* buf, size_t cap) {
  // Not blocking: a named pipe must not hang the listing.
  const int file = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return errno == ENOENT || errno == ENOTDIR ? file_missing : file_unreadable;
  struct stat status;
  size_t total = 0;
  bool failed = fstat(file, &status) != 0 || !S_ISREG(status.st_mode);
  while (!failed && total < cap) {
    const ssize_t got = read(file, static_cast<char*>(buf) + total, cap - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      failed = got < 0;
      break;
    }
    total += static_cast<size_t>(got);
  }
  close(file);
  return failed ? file_unreadable : static_cast<long>(total);
}

size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point) {
  return decode_utf8(bytes, length, code_point);
}

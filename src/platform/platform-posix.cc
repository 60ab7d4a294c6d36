// Linux and other Unix systems: the installer's settings of a driver are the
// section of odbcinst.ini named by its description, as the Driver Manager
// lists them or, failing that, as its installer library reads them. What
// differs between Driver Managers is in driver_manager.h. ELF libraries
// carry no version resource: what installed them knows their version.
#include <dlfcn.h>
#ifdef __linux__
#include <gnu/libc-version.h>
#include <link.h>
#include <sys/auxv.h>
#if defined(__x86_64__)
#include <cpuid.h>
#if __has_include(<sys/platform/x86.h>)
// The header is written for C, whose _Bool clang's C++ does not know.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#endif
#endif
#endif
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "glibc_subfolders.h"
#include "platform/driver_manager.h"
#include "platform/odbc.h"
#include "platform/platform.h"
#include "utf8.h"

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
typedef int (*profile_reader)(const char* section, const char* entry, const char* fallback, char* value, int capacity,
                              const char* file);

static const char* driver_manager_library_folder();

void* installer_symbol(const char* name) {
  static bool tried = false;
  static void* library = nullptr;
  if (!tried) {
    tried = true;
    // Beside the Driver Manager's library first: it need not be in the
    // loader's search path (Homebrew's folder on macOS is not).
    char path[8192];
    snprintf(path, sizeof path, "%s/%s", driver_manager_library_folder(), driver_manager_installer_library);
    library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) library = dlopen(driver_manager_installer_library, RTLD_NOW | RTLD_LOCAL);
  }
  return library ? dlsym(library, name) : nullptr;
}

static profile_reader installer_reader() {
  return reinterpret_cast<profile_reader>(installer_symbol("SQLGetPrivateProfileString"));
}

// Reads from odbcinst.ini into value, as SQLGetPrivateProfileString does;
// false when the installer library is missing.
bool read_installer_file(const char* section, const char* entry, const char* fallback, char* value, int capacity) {
  const profile_reader reader = installer_reader();
  if (!reader) return false;
  reader(section, entry, fallback, value, capacity, installer_file);
  return true;
}

// The installer library's SQLSetConfigMode, which tells its reads of
// odbc.ini which file to read: the user's, the system's or both.
typedef int (*config_mode_setter)(unsigned short mode);

bool read_profile(int mode, const char* section, const char* entry, const char* file, char* value, int capacity) {
  value[0] = '\0';
  const profile_reader reader = installer_reader();
  const config_mode_setter set_mode = reinterpret_cast<config_mode_setter>(installer_symbol("SQLSetConfigMode"));
  if (!reader || !set_mode || capacity <= 0) return false;
  // Zeroed, so that a list of entries (entry null) ends in two NULs.
  char read[ini_read_capacity] = {};
  set_mode(static_cast<unsigned short>(mode));
  reader(section, entry, "", read, sizeof read - 2, file);
  set_mode(ODBC_BOTH_DSN);
  const size_t kept = static_cast<size_t>(capacity) < sizeof read ? static_cast<size_t>(capacity) : sizeof read;
  memcpy(value, read, kept);
  value[kept - 1] = '\0';
  if (kept > 1) value[kept - 2] = entry ? value[kept - 2] : '\0';
  return true;
}

bool read_source_settings(int mode, const char* dsn, const char* file, char* out, size_t cap) {
  if (cap < 2) return false;
  out[0] = out[1] = '\0';
  char keys[ini_read_capacity];
  if (!read_profile(mode, dsn, nullptr, file, keys, sizeof keys)) return false;
  size_t used = 0;
  for (const char* key = keys; *key; key += strlen(key) + 1) {
    char value[ini_read_capacity];
    read_profile(mode, dsn, key, file, value, sizeof value);
    const size_t length = strlen(key) + 1 + strlen(value);
    if (used + length + 2 > cap) continue;
    snprintf(out + used, cap - used, "%s=%s", key, value);
    used += length + 1;
    out[used] = '\0';
  }
  return true;
}

void platform_resolve_source(const char* dsn, source_resolution* resolution) {
  *resolution = source_resolution{};
  driver_manager_resolve_source(dsn, resolution);
}

bool platform_source_settings(const char* dsn, bool user, char* out, size_t cap) {
  return driver_manager_source_settings(dsn, user, out, cap);
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

int platform_count_installed_drivers(int listed, size_t listed_bytes, bool names_cut) {
  return driver_manager_count_drivers(listed, listed_bytes, names_cut);
}

void platform_describe_installer_file() { driver_manager_describe_installer_file(); }

void describe_installer_files(const char* first, const char* second) {
  fputs("WARNING: the Driver Manager listed no drivers; it reads ", stderr);
  const char* const files[] = {first, second};
  for (int i = 0; i < 2; ++i) {
    if (!files[i]) continue;
    if (i == 1 && first) fputs(" and ", stderr);
    fputs(files[i], stderr);
    // What it holds: nothing at all is told apart (the Driver Manager may
    // have made the file itself), and so is what it may not read.
    struct stat status;
    if (stat(files[i], &status) != 0) fputs(" (does not exist)", stderr);
    else if (S_ISREG(status.st_mode) && status.st_size == 0) fputs(" (empty)", stderr);
    else if (access(files[i], R_OK) != 0) fputs(" (not readable)", stderr);
  }
  fputs("\n", stderr);
}

// Reads one entry of a section into value; false when the entry (or the
// section) is missing. Every call parses the file again, so callers ask for
// as few entries as they can.
static bool read_entry(const char* section, const char* entry, char* value) {
  // No entry's value can hold a newline, so this default tells a missing
  // entry from an empty one.
  static const char missing[] = "\n";
  value[0] = '\0';
  if (read_installer_file(section, entry, missing, value, ini_read_capacity - 1) && strcmp(value, missing) != 0)
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

bool platform_open_driver_key(const char* description, const char* listed_settings, driver_key* key) {
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

bool platform_driver_setting(const char* description, const char* listed_settings, const char* entry, char* buf,
                             size_t cap) {
  char value[ini_read_capacity];
  const bool listed = driver_manager_lists_settings && listed_settings && listed_settings[0];
  const bool found =
      listed ? find_listed_entry(listed_settings, entry, value) : description && read_entry(description, entry, value);
  snprintf(buf, cap, "%s", found ? value : "");
  return found;
}

size_t platform_version_size(const char*) { return 0; }

bool platform_read_version(const char*, size_t, void*) { return false; }

bool platform_find_version_record(const void*, const void**, size_t*) { return false; }

unsigned platform_version_sources() {
#ifdef __APPLE__
  return version_dylib;
#else
  return version_package_note | version_dpkg | version_rpm;
#endif
}

// librpm's functions a query needs.
struct platform_rpm {
  void* transaction;
  void* (*iterate)(void* transaction, int32_t tag, const void* key, size_t length);
  void* (*next)(void* iterator);
  void* (*end_iteration)(void* iterator);
  const char* (*string)(void* header, int32_t tag);
  char* (*as_string)(void* header, int32_t tag);
  void* (*free_transaction)(void* transaction);
};

// rpm's numbers: the index of installed files' paths, the tags of a
// package's name and of its [epoch:]version-release, the level of macros
// given on its command line, and the checks of signatures, which would
// need its keyring.
enum : int32_t { rpm_installed_files = 5040, rpm_name = 1000, rpm_evr = 5013, rpm_command_line_level = -7 };
enum : unsigned { rpm_no_signatures = 1u << 10 | 1u << 11 | 1u << 18 | 1u << 19 };

// The folder of the system's RPM database, in SQLite, where it can be read
// without writing: SQLite makes the side files of a database in WAL mode
// that lacks them.
static bool rpm_database_folder(char* folder, size_t cap) {
  for (const char* candidate : {"/usr/lib/sysimage/rpm", "/var/lib/rpm"}) {
    char path[256];
    platform_file file;
    snprintf(path, sizeof path, "%s/rpmdb.sqlite", candidate);
    if (platform_open_file(path, &file) != file_opened) continue;
    unsigned char header[20];
    const bool header_read = platform_read_file(file, 0, header, sizeof header);
    platform_close_file(file);
    const bool wal = header_read && (header[18] == 2 || header[19] == 2);
    struct stat status;
    snprintf(path, sizeof path, "%s/rpmdb.sqlite-wal", candidate);
    const bool has_wal = stat(path, &status) == 0;
    snprintf(path, sizeof path, "%s/rpmdb.sqlite-shm", candidate);
    if (!header_read || (wal && (!has_wal || stat(path, &status) != 0))) continue;
    snprintf(folder, cap, "%s", candidate);
    return true;
  }
  return false;
}

typedef int (*rpm_log_handler)(void* record, void* data);

static int quiet_rpm_log(void*, void*) { return 0; }

template <typename function>
static bool bind_rpm(void* library, const char* name, function* bound) {
  *bound = reinterpret_cast<function>(dlsym(library, name));
  return *bound != nullptr;
}

platform_rpm* platform_open_rpm() {
  char folder[256];
  if (!rpm_database_folder(folder, sizeof folder)) return nullptr;
  // The loader's model takes the objects this process has loaded for the
  // Driver Manager's; librpm and what it needs are not among them.
  platform_loader_facts(facts_of_process);
  void* library = dlopen("librpm.so.10", RTLD_NOW | RTLD_LOCAL);
  if (!library) library = dlopen("librpm.so.9", RTLD_NOW | RTLD_LOCAL);
  platform_rpm* rpm = library ? static_cast<platform_rpm*>(calloc(1, sizeof(platform_rpm))) : nullptr;
  void* (*create)() = nullptr;
  int (*push_macro)(void*, const char*, const char*, const char*, int) = nullptr;
  rpm_log_handler (*set_log)(rpm_log_handler, void*) = nullptr;
  unsigned (*set_checks)(void*, unsigned) = nullptr;
  if (!rpm || !bind_rpm(library, "rpmtsCreate", &create) || !bind_rpm(library, "rpmPushMacro", &push_macro) ||
      !bind_rpm(library, "rpmlogSetCallback", &set_log) || !bind_rpm(library, "rpmtsSetVSFlags", &set_checks) ||
      !bind_rpm(library, "rpmtsInitIterator", &rpm->iterate) || !bind_rpm(library, "rpmdbNextIterator", &rpm->next) ||
      !bind_rpm(library, "rpmdbFreeIterator", &rpm->end_iteration) ||
      !bind_rpm(library, "headerGetString", &rpm->string) || !bind_rpm(library, "headerGetAsString", &rpm->as_string) ||
      !bind_rpm(library, "rpmtsFree", &rpm->free_transaction)) {
    free(rpm);
    return nullptr;
  }
  // rpm's own configuration is not read: its macros may start programs
  // (Debian's _dbpath runs bash). The database is named instead.
  set_log(quiet_rpm_log, nullptr);
  int (*init_crypto)() = nullptr;
  if (bind_rpm(library, "rpmInitCrypto", &init_crypto)) init_crypto();
  push_macro(nullptr, "_dbpath", nullptr, folder, rpm_command_line_level);
  rpm->transaction = create();
  if (!rpm->transaction) {
    free(rpm);
    return nullptr;
  }
  set_checks(rpm->transaction, rpm_no_signatures);
  return rpm;
}

bool platform_rpm_owner(platform_rpm* rpm, const char* path, char* name, char* version, size_t cap) {
  void* found = rpm->iterate(rpm->transaction, rpm_installed_files, path, 0);
  if (!found) return false;
  bool first = true, agreed = true;
  for (void* header; (header = rpm->next(found)) != nullptr;) {
    const char* package = rpm->string(header, rpm_name);
    char* evr = rpm->as_string(header, rpm_evr);
    if (!package || !evr || strlen(package) >= cap || strlen(evr) >= cap) {
      agreed = false;
    } else if (first) {
      memcpy(name, package, strlen(package) + 1);
      memcpy(version, evr, strlen(evr) + 1);
    } else {
      // Copies of a package for several architectures agree; others do not.
      agreed = agreed && strcmp(name, package) == 0 && strcmp(version, evr) == 0;
    }
    first = false;
    free(evr);
  }
  rpm->end_iteration(found);
  return agreed && !first;
}

// librpm stays loaded: it may have left handlers behind for the process's
// end.
void platform_close_rpm(platform_rpm* rpm) {
  rpm->free_transaction(rpm->transaction);
  free(rpm);
}

bool platform_real_path(const char* path, char* real, size_t cap) {
  char* resolved = realpath(path, nullptr);
  const bool fits = resolved && strlen(resolved) < cap;
  if (fits) memcpy(real, resolved, strlen(resolved) + 1);
  free(resolved);
  return fits;
}

// The folder of the Driver Manager's library that is loaded; empty when it
// cannot be located.
static const char* driver_manager_library_folder() {
  static char folder[4096];
  static bool located = false;
  if (!located) {
    located = true;
    // Its real folder: the one its build was configured for, where the
    // loader found it through a link (/lib for /usr/lib).
    Dl_info info;
    char real[PATH_MAX];
    void* symbol = dlsym(RTLD_DEFAULT, "SQLDrivers");
    const char* slash = symbol && dladdr(symbol, &info) && info.dli_fname && realpath(info.dli_fname, real)
                            ? strrchr(real, '/')
                            : nullptr;
    if (slash && static_cast<size_t>(slash - real) < sizeof folder)
      memcpy(folder, real, static_cast<size_t>(slash - real));
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

void platform_driver_entry_points(const char* library, driver_entry_points* points) {
  driver_manager_entry_points(library, points);
}

// Neither Unix Driver Manager expands anything in the value.
void platform_library_lookup(const char* value, const char*, library_lookup* lookup) {
  driver_manager_library_lookup(value, lookup);
}

int platform_open_file(const char* path, platform_file* file) {
  // Not blocking: a named pipe must not hang the listing.
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return file_missing;
    return errno == EACCES || errno == EPERM ? file_denied : file_unreadable;
  }
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return file_unreadable;
  }
  file->handle = descriptor;
  file->size = static_cast<unsigned long long>(status.st_size);
  file->identity[0] = static_cast<unsigned long long>(status.st_dev);
  file->identity[1] = static_cast<unsigned long long>(status.st_ino);
  return file_opened;
}

bool platform_read_file(const platform_file& file, unsigned long long offset, void* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t got = pread(static_cast<int>(file.handle), static_cast<char*>(buffer) + done, length - done,
                              static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

void platform_close_file(const platform_file& file) { close(static_cast<int>(file.handle)); }

// The files mapped now, for the handler of SIGBUS: a read past the end of a
// file cut under the run faults there, and the handler, which can be handed
// nothing, finds the mapping here, marks it cut and lays zeros over the
// page so that the read goes on. One process, one thread: a fixed table.
// The files are mapped side by side in one reserved stretch of addresses,
// let go in one call once none is used: each call that unmaps costs every
// processor the process ran on a flush of its address cache.
namespace {
struct mapped_file {
  uintptr_t start, end;
  volatile sig_atomic_t cut;
  bool own;  // mapped on its own, outside the stretch
};
enum { mapped_capacity = 4096 };
struct mappings {
  mapped_file files[mapped_capacity];
  unsigned char* stretch;
  size_t stretch_used, live;
  bool bus_handler_set;
};
mappings mapped;
// Room for the tables of a load's files (a file past it is mapped on its
// own); letting go of a larger reservation costs more.
const size_t stretch_size = sizeof(void*) == 8 ? size_t{1} << 28 : size_t{1} << 27;

void on_bus_error(int, siginfo_t* info, void*) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (mapped_file& file : mapped.files) {
    if (at < file.start || at >= file.end) continue;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    void* zeros = reinterpret_cast<void*>(at - at % page);
    if (mmap(zeros, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) break;
    file.cut = 1;
    return;
  }
  // Not a file of ours: the fault ends the process, as it would have.
  signal(SIGBUS, SIG_DFL);
}

bool set_bus_handler() {
  if (mapped.bus_handler_set) return true;
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return mapped.bus_handler_set = sigaction(SIGBUS, &action, nullptr) == 0;
}

// Maps length bytes of the file from offset (a page's) in the stretch where
// it has room (reserved at the first file), else on its own.
void* map_in_stretch(const platform_file& file, size_t offset, size_t length, bool* own) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (!mapped.stretch) {
    void* reserved = mmap(nullptr, stretch_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    mapped.stretch = reserved == MAP_FAILED ? nullptr : static_cast<unsigned char*>(reserved);
    mapped.stretch_used = 0;
  }
  const size_t room = (length + page - 1) / page * page + page;  // a page between files
  *own = !mapped.stretch || room > stretch_size - mapped.stretch_used;
  void* at = *own ? nullptr : mapped.stretch + mapped.stretch_used;
  void* bytes = mmap(at, length, PROT_READ, MAP_PRIVATE | (*own ? 0 : MAP_FIXED), static_cast<int>(file.handle),
                     static_cast<off_t>(offset));
  if (bytes != MAP_FAILED && !*own) mapped.stretch_used += room;
  return bytes;
}
}  // namespace

bool platform_map_file(const platform_file& file, unsigned long long offset, unsigned long long length,
                       platform_mapping* mapping) {
  *mapping = {nullptr, length, 0, 0};
  mapped_file* entry = nullptr;
  for (size_t i = 0; i < mapped_capacity && !entry; ++i)
    if (mapped.files[i].start == 0) entry = &mapped.files[i];
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t skew = static_cast<size_t>(offset % page);
  if (!entry || length == 0 || offset > file.size || length > file.size - offset || length > SIZE_MAX / 2 ||
      !set_bus_handler())
    return false;
  bool own = false;
  unsigned char* start =
      static_cast<unsigned char*>(map_in_stretch(file, static_cast<size_t>(offset) - skew, skew + length, &own));
  if (start == MAP_FAILED) return false;
  *entry = {reinterpret_cast<uintptr_t>(start), reinterpret_cast<uintptr_t>(start) + skew + length, 0, own};
  ++mapped.live;
  *mapping = {start + skew, length, entry - mapped.files, skew};
  return true;
}

void platform_unmap_file(const platform_mapping& mapping) {
  if (!mapping.bytes) return;
  mapped_file& entry = mapped.files[mapping.handle];
  if (entry.own) munmap(reinterpret_cast<void*>(entry.start), entry.end - entry.start);
  entry = {};
  // The last file of the stretch gone, the stretch goes with all of them.
  if (--mapped.live == 0 && mapped.stretch) munmap(mapped.stretch, stretch_size), mapped.stretch = nullptr;
}

bool platform_mapping_cut(const platform_mapping& mapping) { return mapping.bytes && mapped.files[mapping.handle].cut; }

bool platform_file_readable(const char* path) { return access(path, R_OK) == 0; }

bool platform_absolute_path(const char* path, char* absolute, size_t cap) {
  if (path[0] == '/') return snprintf(absolute, cap, "%s", path) < static_cast<int>(cap);
  char folder[PATH_MAX];
  if (!getcwd(folder, sizeof folder)) return false;
  // "./x" is "x"; "" and "." are the folder itself.
  while (path[0] == '.' && path[1] == '/') path += 2;
  if (strcmp(path, ".") == 0) path = "";
  const char* slash = path[0] && strcmp(folder, "/") != 0 ? "/" : "";
  return snprintf(absolute, cap, "%s%s%s", folder, slash, path) < static_cast<int>(cap);
}

bool platform_folder_exists(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

#ifdef __linux__
// Whether this glibc still searches the legacy subfolders (tls, the
// platform, hwcaps), which glibc 2.37 dropped.
static bool glibc_searches_legacy_subfolders() {
  int major = 0, minor = 0;
  return sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) == 2 && (major < 2 || (major == 2 && minor < 37));
}

#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>)
// Whether the processor has a feature as glibc found it usable, which is
// what its loader decides by (asked of glibc: no cpuid, which a virtual
// machine makes slow).
#define GLIBC_USABLE(feature) CPU_FEATURE_ACTIVE(feature)
#endif

// The platform as glibc names it, for $PLATFORM and the legacy subfolders:
// the kernel's, but for Intel processors that glibc renames after what they
// can do.
static const char* glibc_platform(const char* kernel_platform) {
#ifdef GLIBC_USABLE
  if (!glibc_searches_legacy_subfolders()) return kernel_platform;
  const bool haswell = GLIBC_USABLE(AVX2) && GLIBC_USABLE(FMA) && GLIBC_USABLE(BMI1) && GLIBC_USABLE(BMI2) &&
                       GLIBC_USABLE(LZCNT) && GLIBC_USABLE(MOVBE) && GLIBC_USABLE(POPCNT);
  const bool xeon_phi = GLIBC_USABLE(AVX512CD) && GLIBC_USABLE(AVX512ER) && GLIBC_USABLE(AVX512PF);
  // The vendor last: glibc's avx512_1 hwcap says Intel, else one cpuid
  // ("GenuineIntel"), which a virtual machine makes slow.
  unsigned eax, ebx, ecx, edx;
  const bool intel = (getauxval(AT_HWCAP) & 4) || (__get_cpuid(0, &eax, &ebx, &ecx, &edx) && ebx == 0x756e6547);
  if ((haswell || xeon_phi) && intel) return xeon_phi ? "xeon_phi" : "haswell";
#endif
  return kernel_platform;
}

// The subfolders glibc's loader tries in each folder it searches, from
// what this glibc knows of the processor: the glibc-hwcaps levels as glibc
// tests them, the legacy ones (on x86-64 the hwcaps it reports in AT_HWCAP).
static const char* loader_subfolders(const char* platform) {
  static char subfolders[2048];
  processor_facts facts{};
#ifdef GLIBC_USABLE
  facts.level[2] = GLIBC_USABLE(CMPXCHG16B) && GLIBC_USABLE(LAHF64_SAHF64) && GLIBC_USABLE(POPCNT) &&
                   GLIBC_USABLE(SSE3) && GLIBC_USABLE(SSE4_1) && GLIBC_USABLE(SSE4_2) && GLIBC_USABLE(SSSE3);
  facts.level[1] = facts.level[2] && GLIBC_USABLE(AVX) && GLIBC_USABLE(AVX2) && GLIBC_USABLE(BMI1) &&
                   GLIBC_USABLE(BMI2) && GLIBC_USABLE(F16C) && GLIBC_USABLE(FMA) && GLIBC_USABLE(LZCNT) &&
                   GLIBC_USABLE(MOVBE) && GLIBC_USABLE(OSXSAVE);
  facts.level[0] = facts.level[1] && GLIBC_USABLE(AVX512F) && GLIBC_USABLE(AVX512BW) && GLIBC_USABLE(AVX512CD) &&
                   GLIBC_USABLE(AVX512DQ) && GLIBC_USABLE(AVX512VL);
#endif
#if defined(__x86_64__)
  const unsigned long hwcap = getauxval(AT_HWCAP);
  facts.avx512_1 = hwcap & 4;
  facts.x86_64 = hwcap & 2;
#endif
  facts.legacy = glibc_searches_legacy_subfolders();
  facts.platform = platform;
  glibc_subfolders(facts, subfolders, sizeof subfolders);
  return subfolders;
}
#endif

#ifdef __linux__
// An object loaded in this process, read from its dynamic section in
// memory: its path, its SONAME ("" where it has none) and its DT_NEEDED.
struct memory_object {
  const char* path;
  const char* soname;
  const ElfW(Dyn) * dynamic;
  const char* strings;
  bool in_scope;
};

// The objects of this process in its loader's order, the program first.
struct process_scan {
  enum { most = 512 };
  memory_object objects[most];
  int count;
};

static void read_dynamic_in_memory(const dl_phdr_info* info, memory_object* object) {
  object->soname = "";
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type != PT_DYNAMIC) continue;
    object->dynamic = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
    ElfW(Addr) strings = 0, soname_at = 0;
    bool has_soname = false;
    for (const ElfW(Dyn)* entry = object->dynamic; entry->d_tag != DT_NULL; ++entry) {
      if (entry->d_tag == DT_STRTAB) strings = entry->d_un.d_ptr;
      if (entry->d_tag == DT_SONAME) soname_at = entry->d_un.d_val, has_soname = true;
    }
    // The loader relocates the table's address where it may write the
    // dynamic section, and leaves it as in the file elsewhere.
    if (strings && strings < info->dlpi_addr) strings += info->dlpi_addr;
    object->strings = reinterpret_cast<const char*>(strings);
    if (strings && has_soname) object->soname = object->strings + soname_at;
  }
}

static int scan_object(dl_phdr_info* info, size_t, void* data) {
  process_scan* scan = static_cast<process_scan*>(data);
  if (scan->count >= process_scan::most) return 1;
  memory_object& object = scan->objects[scan->count++];
  object = memory_object{info->dlpi_name ? info->dlpi_name : "", "", nullptr, nullptr, false};
  read_dynamic_in_memory(info, &object);
  return 0;
}

// Whether an object answers to a name it was needed by.
static bool answers_to(const memory_object& object, const char* name) {
  const char* base = strrchr(object.path, '/');
  return strcmp(object.soname, name) == 0 || strcmp(object.path, name) == 0 || (base && strcmp(base + 1, name) == 0);
}

// Marks what an application linked with the Driver Manager holds, whatever
// this program was built with: the Driver Manager's library and all it
// needs, and the C library and loader every program has. Not this
// program's own C++ runtime, nor a sanitizer's.
static void mark_driver_manager_scope(process_scan* scan, const char* manager) {
  for (int i = 0; i < scan->count; ++i) {
    memory_object& object = scan->objects[i];
    object.in_scope = strcmp(object.path, manager) == 0 || strncmp(object.soname, "libc.so", 7) == 0 ||
                      strncmp(object.soname, "ld-linux", 8) == 0;
  }
  for (bool grew = true; grew;) {
    grew = false;
    for (int i = 0; i < scan->count; ++i) {
      const memory_object& object = scan->objects[i];
      if (!object.in_scope || !object.dynamic || !object.strings) continue;
      for (const ElfW(Dyn)* entry = object.dynamic; entry->d_tag != DT_NULL; ++entry) {
        if (entry->d_tag != DT_NEEDED) continue;
        for (int k = 0; k < scan->count; ++k)
          if (!scan->objects[k].in_scope && answers_to(scan->objects[k], object.strings + entry->d_un.d_val))
            scan->objects[k].in_scope = grew = true;
      }
    }
  }
}

// The objects of the scope, each its path and SONAME, NUL-separated, in a
// block that lives for the run.
static const char* process_scope() {
  // Not cleared: each object is written whole as it is counted.
  process_scan* scan = static_cast<process_scan*>(malloc(sizeof(process_scan)));
  if (!scan) return nullptr;
  scan->count = 0;
  dl_iterate_phdr(scan_object, scan);
  Dl_info info;
  void* symbol = dlsym(RTLD_DEFAULT, "SQLDrivers");
  mark_driver_manager_scope(scan, symbol && dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "");
  size_t size = 1;
  for (int i = 0; i < scan->count; ++i) size += strlen(scan->objects[i].path) + strlen(scan->objects[i].soname) + 2;
  char* text = static_cast<char*>(malloc(size));
  size_t used = 0;
  for (int i = 0; text && i < scan->count; ++i) {
    const memory_object& object = scan->objects[i];
    // The program itself has no path.
    if (!object.in_scope || object.path[0] != '/') continue;
    used += static_cast<size_t>(snprintf(text + used, size - used, "%s", object.path)) + 1;
    used += static_cast<size_t>(snprintf(text + used, size - used, "%s", object.soname)) + 1;
  }
  if (text) text[used] = '\0';
  free(scan);
  return text;
}
#endif

// The folder of this program, where glibc's $ORIGIN of LD_LIBRARY_PATH
// points; null where it cannot be told.
static const char* program_folder() {
  static char folder[4096];
  ssize_t length = -1;
#ifdef __linux__
  length = readlink("/proc/self/exe", folder, sizeof folder - 1);
#endif
  if (length <= 0) return nullptr;
  folder[length] = '\0';
  char* slash = strrchr(folder, '/');
  if (!slash) return nullptr;
  *slash = '\0';
  return folder[0] ? folder : "/";
}

// What glibc's loader of this machine searches and reads.
static void fill_glibc_facts(loader_facts* facts) {
  facts->library_path = getenv("LD_LIBRARY_PATH");
  facts->default_folders = QUORBEL_LOADER_DEFAULTS;
  facts->lib_token = QUORBEL_LOADER_LIB;
  facts->cache = "/etc/ld.so.cache";
#if defined(__x86_64__)
  facts->cache_flags[0] = 0x0303;
#elif defined(__aarch64__)
  facts->cache_flags[0] = 0x0a03;
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
  facts->cache_flags[0] = 0x0903;
#else
  facts->cache_flags[0] = 0x0001, facts->cache_flags[1] = 0x0003;
#endif
#ifdef __linux__
  facts->platform_token = glibc_platform(reinterpret_cast<const char*>(getauxval(AT_PLATFORM)));
#endif
}

// The parts a run asks for, each filled once.
static void fill_parts(loader_facts* facts, unsigned parts) {
  if (parts & facts_for_search) {
    facts->application_folder = program_folder();
#ifdef __linux__
    facts->subfolders = loader_subfolders(facts->platform_token);
#endif
  }
#ifdef __linux__
  if (parts & facts_of_process) facts->loaded = process_scope();
#endif
}

const loader_facts& platform_loader_facts(unsigned parts) {
  static loader_facts facts;
  static bool filled = false;
  static unsigned parts_filled = 0;
  if (!filled) {
    filled = true;
#ifdef __linux__
    facts.page_size = getauxval(AT_PAGESZ);
#else
    facts.page_size = static_cast<unsigned long>(sysconf(_SC_PAGESIZE));
#endif
#ifdef __APPLE__
    facts.library_path = getenv("DYLD_LIBRARY_PATH");
    facts.default_folders = getenv("DYLD_FALLBACK_LIBRARY_PATH");
    if (!facts.default_folders) facts.default_folders = "/usr/local/lib:/usr/lib";
#else
    fill_glibc_facts(&facts);
#endif
  }
  fill_parts(&facts, parts & ~parts_filled);
  parts_filled |= parts;
  return facts;
}

size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point) {
  return decode_utf8(bytes, length, code_point);
}

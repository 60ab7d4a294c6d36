// The seam to the operating system: what the tool needs besides ODBC and
// the standard streams (the environment, the ODBC installer's per-driver
// settings, version resources, files, and what decides where this
// process's loader looks). platform-win32.cc and platform-posix.cc
// implement it; the build picks one.
#pragma once

#include <cstddef>

// Copies the named environment variable into buf, always NUL-terminated,
// and returns the value's length (0 when the variable is absent). buf holds
// the whole value only when the length is below cap.
size_t platform_read_environment(const char* name, char* buf, size_t cap);

// The installer's settings of one driver: its registry key on Windows.
typedef void* driver_key;

// Opens the installer's settings of the driver with this description.
// False when there are none. listed_settings is the attribute list the
// Driver Manager returned with the description (entries closed by an empty
// one), or null when it may be cut; where the Driver Manager lists the
// settings themselves, the platform may take them from there instead of
// reading them again. description is null when the Driver Manager cut it:
// then only listed settings can tell this driver's, since the cut name may
// be another driver's.
bool platform_open_driver_key(const char* description, const char* listed_settings, driver_key* key);

// Reads the driver library's file name ("Driver") into buf, always
// NUL-terminated; empty when the value is missing or not a string. Returns
// less than cap when buf holds the whole value; otherwise the value did not
// fit, and a buffer one byte larger than the number returned should be
// offered again.
size_t platform_read_driver_value(driver_key key, char* buf, size_t cap);

void platform_close_driver_key(driver_key key);

// Another entry of a driver's installer settings (description and
// listed_settings as platform_open_driver_key takes them) into buf (cap
// bytes, cut to fit); false, buf empty, where there is none.
bool platform_driver_setting(const char* description, const char* listed_settings, const char* entry, char* buf,
                             size_t cap);

// Size of the file's version resource; 0 when it has none or cannot be read.
size_t platform_version_size(const char* path);

// Reads the version resource into block (size bytes). False on failure.
bool platform_read_version(const char* path, size_t size, void* block);

// Finds the fixed version record in a block read above. False when the
// look-up fails.
bool platform_find_version_record(const void* block, const void** record, size_t* record_size);

// Where this system keeps the versions of libraries, each source a bit,
// asked in this order: a library's own version resource (Windows), its
// package note, Debian's package database, RPM's (Linux), a Mach-O
// library's current version (macOS).
enum : unsigned {
  version_resource = 1,
  version_package_note = 2,
  version_dpkg = 4,
  version_rpm = 8,
  version_dylib = 16,
};
unsigned platform_version_sources();

// RPM's package database, read through the system's own librpm; opaque.
struct platform_rpm;

// Opens the system's RPM database where there is one that can be read
// without writing anything; null otherwise.
platform_rpm* platform_open_rpm();

// The package that installed path, its name and its version as rpm -q
// writes it ([epoch:]version-release), each into cap bytes; false when no
// package, or packages of different names or versions, own it.
bool platform_rpm_owner(platform_rpm* rpm, const char* path, char* name, char* version, size_t cap);

void platform_close_rpm(platform_rpm* rpm);

// The path with every link resolved (cap bytes); false when that cannot be
// had.
bool platform_real_path(const char* path, char* real, size_t cap);

// How the Driver Manager turns a library value into what it asks its
// loader for.
struct library_lookup {
  // What it asks for: the value itself, or the value cut or placed in a
  // folder of its own.
  const char* name;
  // Folder lists it tries first, in order, each ':'-separated (empty
  // folders dropped): the first candidate it can read is what it loads,
  // loadable or not. Null lists are passed over.
  const char* first_readable[5];
  // Whether a name that none of them holds goes on to the loader's own
  // search; else it is missing.
  bool loader_search;
};
// expanded: the value as the tool writes it, a leading %WINDIR% expanded.
void platform_library_lookup(const char* value, const char* expanded, library_lookup* lookup);

// What decides where this process's dynamic loader looks, beyond the file
// system; the fields of the other format are null.
struct loader_facts {
  // ELF: LD_LIBRARY_PATH as the loader read it (null when unset); its
  // default folders, ':'-separated; the subfolders it tries in each folder
  // before the folder itself, each ending in '/', NUL-separated and closed
  // by an empty one; its cache file and the flags of the cache entries it
  // accepts (0: none more); what $LIB and $PLATFORM expand to; the objects
  // of any program linked with the Driver Manager, in the order this
  // process loaded them (its library and what that needs, the C library and
  // the loader): each its path and its SONAME (empty when it has none, or
  // when it is not known), NUL-separated, closed by an empty path.
  const char* library_path;
  const char* default_folders;
  const char* subfolders;
  const char* cache;
  unsigned cache_flags[2];
  const char* lib_token;
  const char* platform_token;
  const char* loaded;
  // The program's own folder: $ORIGIN of LD_LIBRARY_PATH on ELF.
  const char* application_folder;
  // The size of a page, which the loader maps files by; 0: 4,096.
  unsigned long page_size;
  // PE: the system folder as this process sees it, the Windows folder, PATH
  // (';'-separated), and the Visual C++ runtime assemblies installed side by
  // side for this architecture, each its name ("vc90.crt") and the folder of
  // its newest version, NUL-separated and closed by an empty name.
  const char* system_folder;
  const char* windows_folder;
  const char* path;
  const char* side_by_side;
};
// Facts that cost a look at the process are filled when a caller first
// asks for their part: the folders only a search by name tries
// (subfolders, application_folder), and the objects of the process
// (loaded). The others are there whatever is asked.
enum : unsigned { facts_for_search = 1, facts_of_process = 2 };
const loader_facts& platform_loader_facts(unsigned parts = 0);

// Files, read without loading them: identity tells the same file under two
// names apart from two files.
struct platform_file {
  long long handle;
  unsigned long long size;
  unsigned long long identity[2];
};
constexpr int file_opened = 0;
constexpr int file_missing = -1;
constexpr int file_unreadable = -2;
// No permission to read it: a search passes over such a file.
constexpr int file_denied = -3;

// Opens a regular file for reading; anything else (a folder, a device, a
// pipe) is file_unreadable. A path too long for the file system is missing.
int platform_open_file(const char* path, platform_file* file);

// Reads length bytes at offset: false unless all of them could be read.
bool platform_read_file(const platform_file& file, unsigned long long offset, void* buffer, size_t length);

void platform_close_file(const platform_file& file);

// A stretch of a file mapped read-only, so that what the model never looks
// at is never read; bytes is null where it cannot be mapped (it is read
// instead). Every offset is still checked against the size.
struct platform_mapping {
  const unsigned char* bytes;
  unsigned long long size;
  long long handle;
  unsigned long long skew;  // from the start of what was mapped to bytes
};

// Maps length bytes of an open file from offset (within the file); false
// (and bytes null) where they cannot be.
bool platform_map_file(const platform_file& file, unsigned long long offset, unsigned long long length,
                       platform_mapping* mapping);

void platform_unmap_file(const platform_mapping& mapping);

// Whether the file was found shorter than its mapping (cut under the run):
// what lay past its new end reads as zeros, and the file is unreadable.
bool platform_mapping_cut(const platform_mapping& mapping);

// What the Driver Manager looks up in a driver's library before it can use
// it: any one of names will do (NUL-separated, closed by an empty one;
// none: it looks up nothing the tool models), and a definition in a Driver
// Manager's library (own_library: SONAMEs, NUL-separated, closed by an
// empty one) does not count: neither is a driver for the other.
struct driver_entry_points {
  char names[1024];
  const char* own_library;
};
void platform_driver_entry_points(const char* library, driver_entry_points* points);

// A path as an absolute one (cap bytes), a relative one taken from the
// working folder, as the Driver Manager and the loader take it; false when
// that cannot be had.
bool platform_absolute_path(const char* path, char* absolute, size_t cap);

// Whether a folder exists.
bool platform_folder_exists(const char* path);

// Whether the path can be opened for reading, as a Driver Manager tests a
// candidate before it loads it.
bool platform_file_readable(const char* path);

// Decodes the character at the start of bytes in the text encoding of the
// Driver Manager's strings (UTF-8 on Linux, the ANSI code page on
// Windows): returns how many bytes it takes and its code point, or 0 when
// they do not start a character.
size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point);

// How many drivers the installer's settings hold, where the Driver Manager
// may have left some out of a listing of listed drivers whose names (each
// counted with its NUL) took listed_bytes, some of them cut when
// names_cut; -1 where it cannot have.
int platform_count_installed_drivers(int listed, size_t listed_bytes, bool names_cut);

// Writes to standard error which installer file (or registry key) the
// Driver Manager reads its drivers from, and whether it exists: for a
// listing that holds no driver.
void platform_describe_installer_file();

// What the Driver Manager finds when an application connects to a data
// source by its name.
enum source_outcome {
  // A driver's library to load: library (the value its settings give, or
  // the source's own when that is a path).
  source_library_found,
  // The source names no driver (no Driver entry, or no such source).
  source_names_no_driver,
  // It names a driver the Driver Manager does not know. library: what the
  // Driver Manager tries to load all the same (iODBC takes the name for a
  // library), else empty.
  source_driver_unknown,
  // Windows: the source, or the driver it names, is registered for the
  // other bitness alone.
  source_source_other_bitness,
  source_driver_other_bitness,
};

struct source_resolution {
  source_outcome outcome;
  // The driver as the source names it, and the library value.
  char driver[1024];
  char library[1024];
  // Whether the Driver Manager went on to its default source ([Default]),
  // where the source itself gave no driver it could load.
  bool used_default;
};

// Resolves a data source as the Driver Manager does when an application
// connects to it by name.
void platform_resolve_source(const char* dsn, source_resolution* resolution);

// A data source's own settings (user: the user's source, else the
// system's), as "KEY=VALUE" entries each ending in a NUL, the list in an
// empty one, into out (cap bytes; entries that do not fit are left out);
// false when they cannot be read.
bool platform_source_settings(const char* dsn, bool user, char* out, size_t cap);

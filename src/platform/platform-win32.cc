// Windows: the registry, the process environment and version.dll.
#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "source_bitness.h"
#include "utf8.h"

size_t platform_read_environment(const char* name, char* buf, size_t cap) {
  const DWORD length = GetEnvironmentVariableA(name, buf, static_cast<DWORD>(cap));
  if (length > 0 && length < cap) return length;
  // When the value does not fit, the call returns the size it needs, its
  // NUL included, and leaves the buffer undefined.
  buf[0] = '\0';
  return length > 0 ? length - 1 : 0;
}

// The Windows Driver Manager lists attributes, not the registry's values.
bool platform_open_driver_key(const char* description, const char*, driver_key* key) {
  if (!description) return false;
  HKEY installer;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI", &installer) != ERROR_SUCCESS) return false;
  // An empty name would hand back the installer's key itself.
  if (description[0] == '\0') {
    *key = installer;
    return true;
  }
  // Opened below the installer's key rather than by one full path: Wine
  // refuses names of more than 260 characters, and descriptions run to 254.
  HKEY driver;
  const LONG result = RegOpenKeyA(installer, description, &driver);
  RegCloseKey(installer);
  if (result != ERROR_SUCCESS) return false;
  *key = driver;
  return true;
}

size_t platform_read_driver_value(driver_key key, char* buf, size_t cap) {
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(cap);
  const LONG result =
      RegQueryValueExA(static_cast<HKEY>(key), "Driver", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  const bool is_string = type == REG_SZ || type == REG_EXPAND_SZ;
  if (result == ERROR_MORE_DATA && is_string) {
    buf[0] = '\0';
    return size >= cap ? size : cap;
  }
  if (result != ERROR_SUCCESS || !is_string) {
    buf[0] = '\0';
    return 0;
  }
  // A string may be stored without its NUL.
  if (size < cap) {
    buf[size] = '\0';
    return size;
  }
  if (buf[cap - 1] == '\0') return cap - 1;
  buf[cap - 1] = '\0';
  return cap;
}

void platform_close_driver_key(driver_key key) { RegCloseKey(static_cast<HKEY>(key)); }

bool platform_driver_setting(const char* description, const char*, const char* entry, char* buf, size_t cap) {
  driver_key key;
  buf[0] = '\0';
  if (!platform_open_driver_key(description, nullptr, &key)) return false;
  DWORD type = REG_NONE, size = static_cast<DWORD>(cap - 1);
  const LONG result =
      RegQueryValueExA(static_cast<HKEY>(key), entry, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(static_cast<HKEY>(key));
  const bool found = result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
  buf[found && size < cap ? size : 0] = '\0';
  return found;
}

size_t platform_version_size(const char* path) {
  DWORD ignored = 0;
  return GetFileVersionInfoSizeA(path, &ignored);
}

bool platform_read_version(const char* path, size_t size, void* block) {
  return GetFileVersionInfoA(path, 0, static_cast<DWORD>(size), block) != FALSE;
}

bool platform_find_version_record(const void* block, const void** record, size_t* record_size) {
  void* found = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, "\\", &found, &length)) return false;
  *record = found;
  *record_size = length;
  return true;
}

// A DLL carries its version; no package database is asked.
unsigned platform_version_sources() { return version_resource; }

platform_rpm* platform_open_rpm() { return nullptr; }

bool platform_rpm_owner(platform_rpm*, const char*, char*, char*, size_t) { return false; }

void platform_close_rpm(platform_rpm*) {}

bool platform_real_path(const char*, char*, size_t) { return false; }

// Before it calls a driver, the Windows Driver Manager asks the DLL for
// SQLAllocHandle (an ODBC 3 driver), else SQLAllocEnv (an ODBC 2 one).
void platform_driver_entry_points(const char*, driver_entry_points* points) {
  static const char names[] = "SQLAllocHandle\0SQLAllocEnv\0";
  memcpy(points->names, names, sizeof names);
  points->own_library = "";
}

// The Windows Driver Manager hands the path to LoadLibrary, %WINDIR%
// expanded.
void platform_library_lookup(const char*, const char* expanded, library_lookup* lookup) {
  lookup->name = expanded;
  lookup->loader_search = true;
}

// A folder's path in a static buffer: null when the system cannot say.
static const char* folder_from(UINT (*ask)(char*, UINT), char* buffer, UINT cap) {
  const UINT length = ask(buffer, cap);
  return length > 0 && length < cap ? buffer : nullptr;
}

static UINT system_folder(char* buffer, UINT cap) { return GetSystemDirectoryA(buffer, cap); }
static UINT windows_folder(char* buffer, UINT cap) { return GetSystemWindowsDirectoryA(buffer, cap); }

// A version "A.B.C.D" as one number, to compare.
static unsigned long long version_number(const char* text) {
  unsigned long long number = 0;
  for (int part = 0; part < 4; ++part) {
    unsigned long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<unsigned>(*text - '0');
    number = number << 16 | (value & 0xFFFF);
    if (*text == '.') ++text;
  }
  return number;
}

// The Visual C++ runtime assemblies installed side by side for this
// process's architecture, each ("vc90.crt") with the folder of its newest
// version, of the WinSxS folders named like
// amd64_microsoft.vc90.crt_1fc8b3b9a1e18e3b_9.0.30729.6161_none_....
static const char* side_by_side_assemblies(const char* windows) {
  static char assemblies[8192];
  struct newest {
    char name[32];
    unsigned long long version;
    char folder[MAX_PATH];
  };
  static newest found_assemblies[16];
  size_t count = 0;
  const char* prefix = sizeof(void*) == 8 ? "amd64_microsoft." : "x86_microsoft.";
  char pattern[MAX_PATH + 64];
  pattern[0] = '\0';
  if (strlen(windows) + 40 < sizeof pattern)
    strcat(strcat(strcat(strcat(pattern, windows), "\\WinSxS\\"), prefix), "vc*");
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(pattern, &found);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found) != FALSE) {
    const char* name = found.cFileName + strlen(prefix);
    const size_t length = strcspn(name, "_");
    const char* version = strchr(name + length + 1, '_');
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || length >= sizeof found_assemblies[0].name || !version ||
        strlen(windows) + strlen(found.cFileName) + 9 >= MAX_PATH)
      continue;
    size_t at = 0;
    while (at < count && (strncmp(found_assemblies[at].name, name, length) != 0 || found_assemblies[at].name[length]))
      ++at;
    if (at == count && count == sizeof found_assemblies / sizeof found_assemblies[0]) continue;
    if (at < count && found_assemblies[at].version >= version_number(version + 1)) continue;
    newest& kept = found_assemblies[at];
    count += at == count;
    for (size_t i = 0; i < length; ++i) kept.name[i] = static_cast<char>(tolower(static_cast<unsigned char>(name[i])));
    kept.name[length] = '\0';
    kept.version = version_number(version + 1);
    strcat(strcat(strcpy(kept.folder, windows), "\\WinSxS\\"), found.cFileName);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t name = strlen(found_assemblies[i].name) + 1, folder = strlen(found_assemblies[i].folder) + 1;
    if (used + name + folder + 1 >= sizeof assemblies) break;
    memcpy(assemblies + used, found_assemblies[i].name, name);
    memcpy(assemblies + used + name, found_assemblies[i].folder, folder);
    used += name + folder;
  }
  assemblies[used] = '\0';
  return assemblies;
}

const loader_facts& platform_loader_facts(unsigned) {
  static loader_facts facts;
  static bool filled = false;
  static char program[MAX_PATH], system[MAX_PATH], windows[MAX_PATH];
  static char* path = nullptr;
  if (filled) return facts;
  filled = true;
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  char* slash = length > 0 && length < sizeof program ? strrchr(program, '\\') : nullptr;
  if (slash) {
    *slash = '\0';
    facts.application_folder = program;
  }
  facts.system_folder = folder_from(system_folder, system, sizeof system);
  facts.windows_folder = folder_from(windows_folder, windows, sizeof windows);
  const DWORD path_length = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (path_length > 0 && (path = static_cast<char*>(malloc(path_length))) != nullptr &&
      GetEnvironmentVariableA("PATH", path, path_length) < path_length)
    facts.path = path;
  facts.side_by_side = facts.windows_folder ? side_by_side_assemblies(facts.windows_folder) : nullptr;
  return facts;
}

int platform_open_file(const char* path, platform_file* file) {
  const HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_BAD_PATHNAME:
      case ERROR_FILENAME_EXCED_RANGE: return file_missing;
      case ERROR_ACCESS_DENIED:  // a folder too
        return file_denied;
    }
    return file_unreadable;
  }
  BY_HANDLE_FILE_INFORMATION information;
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
      !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return file_unreadable;
  }
  file->handle = reinterpret_cast<intptr_t>(handle);
  file->size = static_cast<unsigned long long>(size.QuadPart);
  file->identity[0] = information.dwVolumeSerialNumber;
  file->identity[1] = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return file_opened;
}

bool platform_read_file(const platform_file& file, unsigned long long offset, void* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    const DWORD wanted = length - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length - done);
    if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), static_cast<char*>(buffer) + done, wanted, &got, &at) ||
        got == 0)
      return false;
    done += got;
  }
  return true;
}

void platform_close_file(const platform_file& file) { CloseHandle(reinterpret_cast<HANDLE>(file.handle)); }

bool platform_map_file(const platform_file& file, unsigned long long offset, unsigned long long length,
                       platform_mapping* mapping) {
  *mapping = {nullptr, length, 0, 0};
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  // A view starts at a multiple of the allocation granularity.
  const unsigned long long skew = offset % system.dwAllocationGranularity, start = offset - skew;
  if (length == 0 || offset > file.size || length > file.size - offset || skew + length > SIZE_MAX / 2) return false;
  HANDLE section = CreateFileMappingW(reinterpret_cast<HANDLE>(file.handle), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!section) return false;
  // The view keeps the section: its handle is not needed past this.
  const void* view = MapViewOfFile(section, FILE_MAP_READ, static_cast<DWORD>(start >> 32), static_cast<DWORD>(start),
                                   static_cast<SIZE_T>(skew + length));
  CloseHandle(section);
  if (view) *mapping = {static_cast<const unsigned char*>(view) + skew, length, 0, skew};
  return view != nullptr;
}

void platform_unmap_file(const platform_mapping& mapping) {
  if (mapping.bytes) UnmapViewOfFile(mapping.bytes - mapping.skew);
}

// Windows refuses to cut a file while a view of it is mapped.
bool platform_mapping_cut(const platform_mapping&) { return false; }

bool platform_absolute_path(const char* path, char* absolute, size_t cap) {
  const DWORD length = GetFullPathNameA(path[0] ? path : ".", static_cast<DWORD>(cap), absolute, nullptr);
  return length > 0 && length < cap;
}

bool platform_folder_exists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool platform_file_readable(const char* path) {
  platform_file file;
  if (platform_open_file(path, &file) != file_opened) return false;
  platform_close_file(file);
  return true;
}

// The Windows Driver Manager lists every driver of its registry key.
int platform_count_installed_drivers(int, size_t, bool) { return -1; }

void platform_describe_installer_file() {
  static const char key[] = "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers";
  HKEY drivers;
  const bool exists = RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &drivers) == ERROR_SUCCESS;
  DWORD values = 0;
  if (exists && RegQueryInfoKeyA(drivers, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    values = 1;
  if (exists) RegCloseKey(drivers);
  fputs("WARNING: the Driver Manager listed no drivers; it reads HKEY_LOCAL_MACHINE\\", stderr);
  fputs(key, stderr);
  fputs(!exists ? " (does not exist)\n" : values == 0 ? " (empty)\n" : "\n", stderr);
}

size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point) {
  const UINT page = GetACP();
  if (page == CP_UTF8) return decode_utf8(bytes, length, code_point);
  const int taken = IsDBCSLeadByteEx(page, bytes[0]) && length >= 2 ? 2 : 1;
  WCHAR wide[2];
  const int units =
      MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes), taken, wide, 2);
  if (units == 1 && (wide[0] < 0xD800 || wide[0] > 0xDFFF)) {
    *code_point = wide[0];
  } else if (units == 2 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF && wide[1] >= 0xDC00 && wide[1] <= 0xDFFF) {
    *code_point = 0x10000 + ((wide[0] - 0xD800u) << 10) + (wide[1] - 0xDC00u);
  } else {
    return 0;
  }
  return static_cast<size_t>(taken);
}

// A key below a root, in this program's view of the registry or the other
// bitness's; null where it is missing.
static HKEY open_key(HKEY root, const char* path, const char* name, bool other_view) {
  const REGSAM view = other_view ? (sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY) : 0;
  HKEY parent, key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ | view, &parent) != ERROR_SUCCESS) return nullptr;
  const LONG result = RegOpenKeyExA(parent, name, 0, KEY_READ | view, &key);
  RegCloseKey(parent);
  return result == ERROR_SUCCESS ? key : nullptr;
}

// A string value of a key (empty where it is missing or no string).
static void read_string(HKEY key, const char* name, char* buf, size_t cap) {
  DWORD type = REG_NONE, size = static_cast<DWORD>(cap - 1);
  buf[0] = '\0';
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    size = 0;
  buf[size < cap ? size : cap - 1] = '\0';
}

static const char sources_path[] = "SOFTWARE\\ODBC\\ODBC.INI";
static const char drivers_path[] = "SOFTWARE\\ODBC\\ODBCINST.INI";

// Whether a key exists; closed at once.
static bool key_exists(HKEY root, const char* path, const char* name, bool other_view) {
  const HKEY key = name[0] ? open_key(root, path, name, other_view) : nullptr;
  if (key) RegCloseKey(key);
  return key != nullptr;
}

// The Driver Manager takes the user's source before the system's; the
// driver's name is the source's entry under "ODBC Data Sources".
void platform_resolve_source(const char* dsn, source_resolution* resolution) {
  *resolution = source_resolution{};
  registry_facts facts{};
  facts.user_source = key_exists(HKEY_CURRENT_USER, sources_path, dsn, false);
  facts.system_source = key_exists(HKEY_LOCAL_MACHINE, sources_path, dsn, false);
  facts.other_system_source = key_exists(HKEY_LOCAL_MACHINE, sources_path, dsn, true);
  const HKEY root = facts.user_source ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  if (const HKEY source = open_key(root, sources_path, dsn, false)) {
    read_string(source, "Driver", resolution->library, sizeof resolution->library);
    RegCloseKey(source);
  }
  if (const HKEY names = open_key(root, sources_path, "ODBC Data Sources", false)) {
    read_string(names, dsn, resolution->driver, sizeof resolution->driver);
    RegCloseKey(names);
  }
  facts.has_library = resolution->library[0] != '\0';
  facts.driver_here = key_exists(HKEY_LOCAL_MACHINE, drivers_path, resolution->driver, false);
  facts.driver_other = key_exists(HKEY_LOCAL_MACHINE, drivers_path, resolution->driver, true);
  switch (find_by_bitness(facts)) {
    case library_here: resolution->outcome = source_library_found; break;
    case no_library: resolution->outcome = source_names_no_driver; break;
    case source_other_side: resolution->outcome = source_source_other_bitness; break;
    case driver_other_side: resolution->outcome = source_driver_other_bitness; break;
  }
}

bool platform_source_settings(const char* dsn, bool user, char* out, size_t cap) {
  const HKEY source = open_key(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, sources_path, dsn, false);
  if (!source || cap < 2) return false;
  size_t used = 0;
  out[0] = out[1] = '\0';
  for (DWORD index = 0;; ++index) {
    char name[256], value[1024];
    DWORD name_size = sizeof name, value_size = sizeof value - 1, type = REG_NONE;
    const LONG result =
        RegEnumValueA(source, index, name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(value), &value_size);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) continue;
    value[value_size < sizeof value ? value_size : sizeof value - 1] = '\0';
    const size_t length = strlen(name) + 1 + strlen(value);
    if (used + length + 2 > cap) continue;
    memcpy(out + used, name, strlen(name));
    out[used + strlen(name)] = '=';
    memcpy(out + used + strlen(name) + 1, value, strlen(value) + 1);
    used += length + 1;
    out[used] = '\0';
  }
  RegCloseKey(source);
  return true;
}

// Windows: the registry, the process environment and version.dll.
#include <windows.h>

#include <cstring>

#include "line_writer.h"
#include "platform.h"

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
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODBC\\ODBCINST.INI", &installer) != ERROR_SUCCESS)
    return false;
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
  const LONG result = RegQueryValueExA(static_cast<HKEY>(key), "Driver", nullptr, &type,
                                       reinterpret_cast<BYTE*>(buf), &size);
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

library_format platform_library_format() { return format_pe; }

size_t platform_find_library(const char* value, char* found, size_t cap) {
  // A value with a folder or drive is loaded as it stands.
  if (strpbrk(value, "\\/:")) {
    const size_t length = strlen(value);
    if (length < cap) memcpy(found, value, length + 1);
    return length;
  }
  // A bare name is searched as LoadLibrary searches it, .dll added when it
  // has no extension; a 32-bit program sees System32 redirected as its
  // Driver Manager does. A result of cap or more is the size needed.
  return SearchPathA(nullptr, value, ".dll", static_cast<DWORD>(cap), found, nullptr);
}

long platform_read_file_head(const char* path, void* buf, size_t cap) {
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? file_missing
                                                                          : file_unreadable;
  }
  size_t total = 0;
  bool failed = false;
  while (total < cap) {
    DWORD read = 0;
    if (!ReadFile(file, static_cast<char*>(buf) + total, static_cast<DWORD>(cap - total), &read,
                  nullptr)) {
      failed = true;
      break;
    }
    if (read == 0) break;
    total += read;
  }
  CloseHandle(file);
  return failed ? file_unreadable : static_cast<long>(total);
}

// The Windows Driver Manager lists every driver of its registry key.
int platform_count_installed_drivers() { return -1; }

size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point) {
  const UINT page = GetACP();
  if (page == CP_UTF8) return decode_utf8(bytes, length, code_point);
  const int taken = IsDBCSLeadByteEx(page, bytes[0]) && length >= 2 ? 2 : 1;
  WCHAR wide[2];
  const int units = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                                        taken, wide, 2);
  if (units == 1 && (wide[0] < 0xD800 || wide[0] > 0xDFFF)) {
    *code_point = wide[0];
  } else if (units == 2 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF && wide[1] >= 0xDC00 &&
             wide[1] <= 0xDFFF) {
    *code_point = 0x10000 + ((wide[0] - 0xD800u) << 10) + (wide[1] - 0xDC00u);
  } else {
    return 0;
  }
  return static_cast<size_t>(taken);
}

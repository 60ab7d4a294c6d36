// The operating-system services the tool needs besides ODBC and the standard
// streams: the environment, the ODBC installer's per-driver settings and
// version resources. platform-win32.cc and platform-posix.cc implement them;
// the build picks one.
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
bool platform_open_driver_key(const char* description, const char* listed_settings,
                              driver_key* key);

// Reads the driver library's file name ("Driver") into buf, always
// NUL-terminated; empty when the value is missing or not a string. Returns
// less than cap when buf holds the whole value; otherwise the value did not
// fit, and a buffer one byte larger than the number returned should be
// offered again.
size_t platform_read_driver_value(driver_key key, char* buf, size_t cap);

void platform_close_driver_key(driver_key key);

// Size of the file's version resource; 0 when it has none or cannot be read.
size_t platform_version_size(const char* path);

// Reads the version resource into block (size bytes). False on failure.
bool platform_read_version(const char* path, size_t size, void* block);

// Finds the fixed version record in a block read above. False when the
// look-up fails.
bool platform_find_version_record(const void* block, const void** record, size_t* record_size);

// The format of the libraries the Driver Manager loads.
enum library_format { format_pe, format_elf };
library_format platform_library_format();

// The file the Driver Manager would load for a driver's library value: the
// value itself when it names a folder, else the first file its search
// finds. Writes it to found and returns its length; 0 when no file is
// found. A length of cap or more means the path did not fit.
size_t platform_find_library(const char* value, char* found, size_t cap);

constexpr long file_missing = -1;
constexpr long file_unreadable = -2;

// Reads up to cap bytes from the start of a file, without loading it.
// Returns the number of bytes read, file_missing when there is no such
// file, file_unreadable when it cannot be opened or read.
long platform_read_file_head(const char* path, void* buf, size_t cap);

// Decodes the character at the start of bytes in the text encoding of the
// Driver Manager's strings (UTF-8 on Linux, the ANSI code page on
// Windows): returns how many bytes it takes and its code point, or 0 when
// they do not start a character.
size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point);

// How many drivers the installer's settings hold, where the Driver Manager
// may list fewer; -1 where it lists them all.
int platform_count_installed_drivers();

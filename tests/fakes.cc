#include "fakes.h"

#include <algorithm>
#include <cstring>

#include "driver_file.h"
#include "line_writer.h"
#include "platform/platform.h"

fake_driver_manager fake_dm;
fake_system fake_os;

void reset_fakes() {
  fake_dm = fake_driver_manager();
  fake_os = fake_system();
  windows_dir[0] = '\0';
}

void fake_driver_key(const std::string& description, const std::string& value) {
  fake_os.keys[description] = {fake_registry_value{value, true}};
}

std::vector<uint32_t> version_record(uint16_t major, uint16_t minor, uint16_t build,
                                     uint16_t revision) {
  std::vector<uint32_t> record(13, 0);
  record[0] = 0xFEEF04BDu;
  record[1] = 0x00010000u;
  record[2] = 0x00630063u;  // file version 99.99.99.99
  record[3] = 0x00630063u;
  record[4] = (uint32_t{major} << 16) | minor;
  record[5] = (uint32_t{build} << 16) | revision;
  return record;
}

void put16(std::string* bytes, size_t at, unsigned value, bool big_endian) {
  (*bytes)[at + (big_endian ? 1 : 0)] = static_cast<char>(value & 0xFF);
  (*bytes)[at + (big_endian ? 0 : 1)] = static_cast<char>(value >> 8);
}

std::string elf_header(int elf_class, int order, unsigned type, unsigned machine) {
  std::string bytes(elf_class == 2 ? 64 : 52, '\0');
  bytes.replace(0, 4, "\x7F" "ELF");
  bytes[4] = static_cast<char>(elf_class), bytes[5] = static_cast<char>(order), bytes[6] = 1;
  put16(&bytes, 16, type, order == 2);
  put16(&bytes, 18, machine, order == 2);
  return bytes;
}

// The Driver Manager.

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT, SQLHANDLE, SQLHANDLE* output) {
  ++fake_dm.alloc_calls;
  *output = &fake_dm;
  return fake_dm.alloc_result;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  if (attribute == SQL_ATTR_ODBC_VERSION) fake_dm.odbc_version = value;
  return fake_dm.version_result;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT, SQLHANDLE) {
  ++fake_dm.free_calls;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDrivers(SQLHENV, SQLUSMALLINT direction, SQLCHAR* description,
                             SQLSMALLINT description_capacity, SQLSMALLINT* description_length,
                             SQLCHAR* attributes, SQLSMALLINT attributes_capacity,
                             SQLSMALLINT* attributes_length) {
  const size_t call = fake_dm.directions.size();
  fake_dm.directions.push_back(direction);
  fake_dm.description_capacities.push_back(description_capacity);
  fake_dm.attributes_capacities.push_back(attributes_capacity);
  if (call >= fake_dm.drivers.size()) return fake_dm.end_result;

  const fake_driver& driver = fake_dm.drivers[call];
  const size_t copied =
      std::min(driver.description.size(), static_cast<size_t>(description_capacity - 1));
  memcpy(description, driver.description.data(), copied);
  description[copied] = '\0';
  *description_length = static_cast<SQLSMALLINT>(driver.description.size());
  memcpy(attributes, driver.attributes.data(),
         std::min(driver.attributes.size(), static_cast<size_t>(attributes_capacity)));
  *attributes_length = driver.attributes_length;
  return driver.result;
}

// The operating system.

size_t platform_read_environment(const char* name, char* buf, size_t cap) {
  auto found = fake_os.environment.find(name);
  const std::string value = found == fake_os.environment.end() ? "" : found->second;
  const size_t copied = std::min(value.size(), cap - 1);
  memcpy(buf, value.data(), copied);
  buf[copied] = '\0';
  return value.size();
}

bool platform_open_driver_key(const char* description, const char* listed_settings,
                              driver_key* key) {
  fake_os.listed_settings.push_back(listed_settings ? listed_settings : "(none)");
  if (!description) return false;
  auto found = fake_os.keys.find(description);
  if (found == fake_os.keys.end()) return false;
  ++fake_os.open_keys;
  *key = &found->second;
  return true;
}

size_t platform_read_driver_value(driver_key key, char* buf, size_t cap) {
  auto* values = static_cast<std::vector<fake_registry_value>*>(key);
  if (values->empty() || !values->front().is_string) {
    buf[0] = '\0';
    return 0;
  }
  // Each read sees the next value, as if the registry changed in between.
  const std::string value = values->front().bytes;
  if (values->size() > 1) values->erase(values->begin());
  const size_t copied = std::min(value.size(), cap - 1);
  memcpy(buf, value.data(), copied);
  buf[copied] = '\0';
  return value.size();
}

void platform_close_driver_key(driver_key) { --fake_os.open_keys; }

size_t platform_version_size(const char* path) {
  fake_os.version_paths.push_back(path);
  auto found = fake_os.versions.find(path);
  return found == fake_os.versions.end() ? 0 : found->second.record.size() * 4 + 16;
}

bool platform_read_version(const char* path, size_t size, void* block) {
  const fake_version_data& data = fake_os.versions.at(path);
  fake_os.version_read = &data;
  if (!data.readable) return false;
  memset(block, 0, size);
  memcpy(block, data.record.data(), data.record.size() * 4);
  return true;
}

bool platform_find_version_record(const void* block, const void** record, size_t* record_size) {
  const fake_version_data* data = fake_os.version_read;
  if (!data->has_root) return false;
  *record = block;
  *record_size = data->record.size() * 4;
  return true;
}

library_format platform_library_format() { return fake_os.format; }

size_t platform_find_library(const char* value, char* found, size_t cap) {
  std::string path = value;
  if (path.find_first_of("/\\") == std::string::npos) {
    auto hit = fake_os.search.find(path);
    if (hit == fake_os.search.end()) return 0;
    path = hit->second;
  }
  if (path.size() < cap) memcpy(found, path.c_str(), path.size() + 1);
  return path.size();
}

long platform_read_file_head(const char* path, void* buf, size_t cap) {
  if (std::find(fake_os.unreadable.begin(), fake_os.unreadable.end(), path) !=
      fake_os.unreadable.end())
    return file_unreadable;
  auto file = fake_os.files.find(path);
  if (file == fake_os.files.end()) return file_missing;
  const size_t length = std::min(file->second.size(), cap);
  memcpy(buf, file->second.data(), length);
  return static_cast<long>(length);
}

int platform_count_installed_drivers() { return fake_os.installed_drivers; }

size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point) {
  return decode_utf8(bytes, length, code_point);
}

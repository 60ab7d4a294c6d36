// Stand-ins for the ODBC Driver Manager and the operating system.
#include "fakes.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver_file.h"
#include "library_version.h"
#include "output/line_writer.h"
#include "platform/platform.h"
#include "product_version.h"
#include "utf8.h"

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

std::vector<uint32_t> version_record(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision) {
  std::vector<uint32_t> record(13, 0);
  record[0] = 0xFEEF04BDu;
  record[1] = 0x00010000u;
  record[2] = 0x00630063u;  // file version 99.99.99.99
  record[3] = 0x00630063u;
  record[4] = (uint32_t{major} << 16) | minor;
  record[5] = (uint32_t{build} << 16) | revision;
  return record;
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

SQLRETURN SQL_API SQLDrivers(SQLHENV, SQLUSMALLINT direction, SQLCHAR* description, SQLSMALLINT description_capacity,
                             SQLSMALLINT* description_length, SQLCHAR* attributes, SQLSMALLINT attributes_capacity,
                             SQLSMALLINT* attributes_length) {
  const size_t call = fake_dm.directions.size();
  fake_dm.directions.push_back(direction);
  fake_dm.description_capacities.push_back(description_capacity);
  fake_dm.attributes_capacities.push_back(attributes_capacity);
  if (call >= fake_dm.drivers.size()) return fake_dm.end_result;

  const fake_driver& driver = fake_dm.drivers[call];
  const size_t copied = std::min(driver.description.size(), static_cast<size_t>(description_capacity - 1));
  memcpy(description, driver.description.data(), copied);
  description[copied] = '\0';
  *description_length = static_cast<SQLSMALLINT>(driver.description.size());
  memcpy(attributes, driver.attributes.data(),
         std::min(driver.attributes.size(), static_cast<size_t>(attributes_capacity)));
  *attributes_length = driver.attributes_length;
  return driver.result;
}

// The user's sources from SQL_FETCH_FIRST_USER on, the system's from
// SQL_FETCH_FIRST_SYSTEM on.
SQLRETURN SQL_API SQLDataSources(SQLHENV, SQLUSMALLINT direction, SQLCHAR* name, SQLSMALLINT name_capacity,
                                 SQLSMALLINT* name_length, SQLCHAR* driver, SQLSMALLINT driver_capacity,
                                 SQLSMALLINT* driver_length) {
  if (direction != SQL_FETCH_NEXT) fake_dm.next_source = 0, fake_dm.listing_user = direction == SQL_FETCH_FIRST_USER;
  while (fake_dm.next_source < fake_dm.sources.size() &&
         fake_dm.sources[fake_dm.next_source].user != fake_dm.listing_user)
    ++fake_dm.next_source;
  if (fake_dm.next_source >= fake_dm.sources.size()) return SQL_NO_DATA;
  const fake_source& source = fake_dm.sources[fake_dm.next_source++];
  snprintf(reinterpret_cast<char*>(name), static_cast<size_t>(name_capacity), "%s", source.name.c_str());
  snprintf(reinterpret_cast<char*>(driver), static_cast<size_t>(driver_capacity), "%s", source.driver.c_str());
  *name_length = static_cast<SQLSMALLINT>(source.name.size());
  *driver_length = static_cast<SQLSMALLINT>(source.driver.size());
  return SQL_SUCCESS;
}

// The operating system.

void platform_resolve_source(const char* dsn, source_resolution* resolution) {
  const auto found = fake_os.resolutions.find(dsn);
  *resolution = found == fake_os.resolutions.end() ? source_resolution{} : found->second;
  if (found == fake_os.resolutions.end()) resolution->outcome = source_names_no_driver;
}

bool platform_source_settings(const char* dsn, bool, char* out, size_t cap) {
  const auto found = fake_os.source_settings.find(dsn);
  if (found == fake_os.source_settings.end() || found->second.size() + 2 > cap) return false;
  memcpy(out, found->second.data(), found->second.size());
  out[found->second.size()] = out[found->second.size() + 1] = '\0';
  return true;
}

size_t platform_read_environment(const char* name, char* buf, size_t cap) {
  auto found = fake_os.environment.find(name);
  const std::string value = found == fake_os.environment.end() ? "" : found->second;
  const size_t copied = std::min(value.size(), cap - 1);
  memcpy(buf, value.data(), copied);
  buf[copied] = '\0';
  return value.size();
}

bool platform_open_driver_key(const char* description, const char* listed_settings, driver_key* key) {
  fake_os.listed_settings.push_back(listed_settings ? listed_settings : "(none)");
  if (!description) return false;
  auto found = fake_os.keys.find(description);
  if (found == fake_os.keys.end()) return false;
  ++fake_os.open_keys;
  *key = &found->second;
  return true;
}

bool platform_driver_setting(const char* description, const char*, const char* entry, char* buf, size_t cap) {
  const auto found = fake_os.settings.find(std::string(description ? description : "") + "/" + entry);
  snprintf(buf, cap, "%s", found == fake_os.settings.end() ? "" : found->second.c_str());
  return found != fake_os.settings.end();
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

const loader_rules& native_rules() { return *fake_os.rules; }

void platform_library_lookup(const char* value, const char*, library_lookup* lookup) {
  lookup->name = value;
  for (size_t i = 0; i < fake_os.first_readable.size() && i < 4; ++i)
    lookup->first_readable[i] = fake_os.first_readable[i].c_str();
  lookup->loader_search = fake_os.loader_search;
}

const loader_facts& platform_loader_facts(unsigned) { return fake_os.facts; }

static bool listed(const std::vector<std::string>& paths, const char* path) {
  return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// The file a path names, through one link.
static std::string resolved(const char* path) {
  auto link = fake_os.links.find(path);
  return link == fake_os.links.end() ? path : link->second;
}

int platform_open_file(const char* path, platform_file* file) {
  fake_os.opened.push_back(path);
  const std::string target = resolved(path);
  path = target.c_str();
  if (listed(fake_os.unreadable, path)) return file_unreadable;
  if (listed(fake_os.denied, path)) return file_denied;
  auto found = fake_os.files.find(path);
  if (found == fake_os.files.end()) return file_missing;
  // The file's bytes stand for its handle and its identity.
  file->handle = reinterpret_cast<intptr_t>(&found->second);
  file->size = found->second.size();
  file->identity[0] = 1;
  file->identity[1] = reinterpret_cast<uintptr_t>(&found->second);
  return file_opened;
}

bool platform_read_file(const platform_file& file, unsigned long long offset, void* buffer, size_t length) {
  const std::string& bytes = *reinterpret_cast<const std::string*>(file.handle);
  if (offset > bytes.size() || length > bytes.size() - offset) return false;
  memcpy(buffer, bytes.data() + offset, length);
  return true;
}

void platform_close_file(const platform_file&) {}

// The fake's files are in memory already: mapped where they may be.
bool platform_map_file(const platform_file& file, unsigned long long offset, unsigned long long length,
                       platform_mapping* mapping) {
  const std::string& bytes = *reinterpret_cast<const std::string*>(file.handle);
  const bool mapped = !fake_os.unmappable && length && offset <= bytes.size() && length <= bytes.size() - offset;
  *mapping = {mapped ? reinterpret_cast<const unsigned char*>(bytes.data()) + offset : nullptr, length, 0, 0};
  return mapped;
}

void platform_unmap_file(const platform_mapping&) {}

bool platform_mapping_cut(const platform_mapping&) { return false; }

unsigned platform_version_sources() { return fake_os.version_sources; }

// As the program of the system the fake stands for.
void print_library_version(loader_state& run, package_memory& packages, const char* value, const char* expanded,
                           const line_writer& out) {
  char file[4096];
  if (fake_os.version_sources & version_resource) print_product_version(expanded, out);
  else if (find_library_file(run, value, expanded, file, sizeof file))
    print_package_version(packages, file, expanded, out);
}

void forget_library_versions(package_memory& packages) { reset_package_memory(packages); }

platform_rpm* platform_open_rpm() { return nullptr; }

bool platform_rpm_owner(platform_rpm*, const char*, char*, char*, size_t) { return false; }

void platform_close_rpm(platform_rpm*) {}

bool platform_real_path(const char*, char*, size_t) { return false; }

bool platform_absolute_path(const char* path, char* absolute, size_t cap) {
  std::string whole = path;
  while (whole.compare(0, 2, "./") == 0) whole.erase(0, 2);
  if (whole[0] != '/' && whole.find(':') != 1) whole = fake_os.working_folder + (whole == "." ? "" : "/" + whole);
  return snprintf(absolute, cap, "%s", whole.c_str()) < static_cast<int>(cap);
}

bool platform_folder_exists(const char* path) {
  // A folder exists where a file lies below it.
  const std::string folder = std::string(path).substr(0, std::string(path).find_last_not_of("/\\") + 1);
  for (const auto& [file, bytes] : fake_os.files)
    if (file.size() > folder.size() && file.compare(0, folder.size(), folder) == 0 &&
        (file[folder.size()] == '/' || file[folder.size()] == '\\'))
      return true;
  return folder.empty() || folder == ".";
}

bool platform_file_readable(const char* path) {
  return fake_os.files.count(resolved(path)) && !listed(fake_os.denied, path);
}

int platform_count_installed_drivers(int, size_t, bool) { return fake_os.installed_drivers; }

void platform_driver_entry_points(const char*, driver_entry_points* points) {
  memcpy(points->names, fake_os.entry_points.c_str(), fake_os.entry_points.size() + 1);
  points->names[fake_os.entry_points.size() + 1] = '\0';
  // A list: each name and the closing empty one.
  fake_os.own_library.resize(strlen(fake_os.own_library.c_str()) + 2, '\0');
  points->own_library = fake_os.own_library.c_str();
}

void platform_describe_installer_file() { fputs("WARNING: no drivers\n", stderr); }

size_t platform_decode_text(const unsigned char* bytes, size_t length, unsigned* code_point) {
  return decode_utf8(bytes, length, code_point);
}

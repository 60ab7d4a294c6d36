// Stand-ins for the ODBC Driver Manager and the operating system, so that
// every outcome the tool can meet is forced from a test.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "loader/rules.h"
#include "platform/odbc.h"
#include "platform/platform.h"

struct fake_driver {
  std::string description;  // copied as the Driver Manager would, cut to fit
  std::string attributes;   // raw bytes, NULs included; the rest stays untouched
  SQLSMALLINT attributes_length;
  SQLRETURN result;
};

struct fake_source {
  std::string name, driver;
  bool user;
};

struct fake_driver_manager {
  std::vector<fake_source> sources;
  size_t next_source = 0;
  bool listing_user = true;
  SQLRETURN alloc_result = SQL_SUCCESS;
  SQLRETURN version_result = SQL_SUCCESS;
  std::vector<fake_driver> drivers;
  SQLRETURN end_result = SQL_NO_DATA;

  int alloc_calls = 0;
  int free_calls = 0;
  SQLPOINTER odbc_version = nullptr;
  std::vector<SQLUSMALLINT> directions;
  std::vector<SQLSMALLINT> description_capacities;
  std::vector<SQLSMALLINT> attributes_capacities;
};

struct fake_registry_value {
  std::string bytes;
  bool is_string = true;
};

struct fake_version_data {
  bool readable = true;
  bool has_root = true;
  std::vector<uint32_t> record;
};

struct fake_system {
  std::map<std::string, std::string> environment;
  // Drivers that have installer settings, and their "Driver" value if any.
  std::map<std::string, std::vector<fake_registry_value>> keys;
  std::map<std::string, fake_version_data> versions;
  unsigned version_sources = version_resource;  // where versions come from
  int open_keys = 0;
  std::vector<std::string> version_paths;
  std::vector<std::string> listed_settings;  // as each open received them
  const fake_version_data* version_read = nullptr;
  // Library files by path, files that cannot be read and those that may
  // not be, what the Driver Manager searches itself (folder lists whose
  // first readable candidate it takes) and what the loader knows, and the
  // drivers the installer's settings hold (-1: as listed).
  const loader_rules* rules = &glibc_rules;  // this process's loader
  std::map<std::string, std::string> files;
  std::map<std::string, std::string> links;  // a path that names another file
  std::vector<std::string> unreadable;
  std::vector<std::string> denied;
  bool unmappable = false;  // files are read, never mapped
  // The working folder, which relative paths are taken from.
  std::string working_folder = "/work";
  std::vector<std::string> first_readable;
  bool loader_search = true;
  loader_facts facts{};
  int installed_drivers = -1;
  // What the Driver Manager looks up in a driver, NUL-separated (none: it
  // looks nothing up), and its own library.
  std::string entry_points;
  std::string own_library;
  std::vector<std::string> opened;  // every path opened, in order
  // Data sources as the Driver Manager resolves them, and their settings
  // (a list of KEY=VALUE entries).
  std::map<std::string, source_resolution> resolutions;
  std::map<std::string, std::string> source_settings;
  // Other installer settings, by "DESCRIPTION/ENTRY".
  std::map<std::string, std::string> settings;
};

extern fake_driver_manager fake_dm;
extern fake_system fake_os;

// Both fakes as new, and windows_dir empty.
void reset_fakes();

// A key whose "Driver" value is value.
void fake_driver_key(const std::string& description, const std::string& value);

// The fixed version record carrying this product version (and another file
// version, which must never show).
std::vector<uint32_t> version_record(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision);

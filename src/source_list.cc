// The data source loop.
#include "source_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "driver_list.h"
#include "output/line_writer.h"
#include "source_check.h"

namespace {

enum : size_t { driver_names_capacity = 65536, settings_capacity = 16384 };

// The names of the installed drivers, as a list, for the names near an
// unknown one.
void read_driver_names(char* names, size_t cap) {
  size_t used = 0;
  names[0] = '\0';
  SQLCHAR description[256];
  SQLSMALLINT length = 0, attributes_length = 0;
  SQLCHAR attributes[8];
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    const SQLRETURN result =
        SQLDrivers(env_handle, direction, description, 255, &length, attributes, 8, &attributes_length);
    if (!odbc_ok(result)) return;
    description[255] = '\0';
    const size_t size = strlen(reinterpret_cast<char*>(description));
    if (used + size + 2 > cap) return;
    memcpy(names + used, description, size + 1);
    used += size + 1;
    names[used] = '\0';
  }
}

// The source's own settings, a secret's value written as "***".
void write_settings(const char* dsn, bool user, const line_writer& out) {
  char* settings = static_cast<char*>(malloc(settings_capacity));
  if (settings && platform_source_settings(dsn, user, settings, settings_capacity)) {
    for (const char* entry = settings; *entry; entry += strlen(entry) + 1) {
      const char* equals = strchr(entry, '=');
      const size_t key_length = equals ? static_cast<size_t>(equals - entry) : strlen(entry);
      if (!equals || !secret_key(entry, key_length)) {
        out.attribute(entry, strlen(entry));
        continue;
      }
      char masked[300];
      const size_t kept = key_length < sizeof masked - 5 ? key_length : sizeof masked - 5;
      memcpy(masked, entry, kept);
      memcpy(masked + kept, "=***", 5);
      out.attribute(masked, kept + 4);
    }
  }
  free(settings);
}

// Checks a source and writes what only the check gives; true where it is ok.
bool write_check(loader_state& run, const char* dsn, const char* drivers, const line_writer& out) {
  source_resolution resolution;
  library_verdict verdict;
  check_source(run, dsn, &resolution, &verdict);
  out.source_library(resolution.library);
  if (verdict.kind == verdict_unknown_driver) {
    char closest[4096];
    near_names(resolution.driver, drivers, closest, sizeof closest);
    out.closest(closest);
  }
  char word[word_capacity];
  write_word(verdict, word, sizeof word);
  out.advice(verdict.have, verdict.elsewhere, verdict.hint);
  out.check(word, verdict.file, verdict.road, verdict.searched);
  return verdict.kind == verdict_ok;
}

int source_listing(const list_options& options) {
  const line_writer& out = options.json_lines ? json_lines : tab_lines;
  char* drivers = nullptr;
  if (options.check_library && (drivers = static_cast<char*>(malloc(driver_names_capacity))) != nullptr)
    read_driver_names(drivers, driver_names_capacity);
  loader_state run{};
  bool problems = false;
  int status = status_listed;
  for (const bool user : {true, false}) {
    SQLUSMALLINT direction = user ? SQL_FETCH_FIRST_USER : SQL_FETCH_FIRST_SYSTEM;
    for (;; direction = SQL_FETCH_NEXT) {
      SQLCHAR name[256], driver[256];
      SQLSMALLINT name_length = 0, driver_length = 0;
      const SQLRETURN result =
          SQLDataSources(env_handle, direction, name, 255, &name_length, driver, 255, &driver_length);
      if (static_cast<int16_t>(result) == SQL_NO_DATA) break;
      if (!odbc_ok(result)) {
        fputs("ERROR: could not list data sources", stderr);
        status = status_listing_failed;
        break;
      }
      name[255] = driver[255] = '\0';
      const char* dsn = reinterpret_cast<const char*>(name);
      out.source(dsn, user ? "user" : "system");
      if (!options.brief) out.driver(reinterpret_cast<const char*>(driver));
      if (!options.brief && options.show_attributes) write_settings(dsn, user, out);
      if (options.check_library && !write_check(run, dsn, drivers ? drivers : "", out)) problems = true;
      out.end();
    }
  }
  reset_loader(run);
  free(drivers);
  return status == status_listed && problems ? status_library_problem : status;
}

}  // namespace

int list_sources(const list_options& options) { return list_in_environment(options, source_listing); }

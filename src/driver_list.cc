// The ODBC environment and the driver loop.
#include "driver_list.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "attributes.h"
#include "driver_file.h"
#include "library_check.h"
#include "library_version.h"
#include "number_text.h"
#include "output/line_writer.h"
#include "platform/platform.h"

SQLHENV env_handle = SQL_NULL_HENV;

bool odbc_ok(SQLRETURN result) {
  // Taken as 16 bits: that is all the interface promises.
  const int16_t code = static_cast<int16_t>(result);
  return code == SQL_SUCCESS || code == SQL_SUCCESS_WITH_INFO;
}

// Whether the attribute list holds all of the driver's settings. The Driver
// Manager reports a cut with SQL_SUCCESS_WITH_INFO, which a cut description
// brings too, and with a length past the buffer; unixODBC keeps the length
// in 16 bits, so that may also wrap to a negative or a small number. A whole
// list closes right at its length.
static bool list_is_whole(SQLRETURN result, bool description_cut, const SQLCHAR* list, SQLSMALLINT length) {
  if (length < 0 || length > attributes_capacity) return false;
  if (static_cast<int16_t>(result) != SQL_SUCCESS && !description_cut) return false;
  return list[length] == '\0' && (length == 0 || list[length - 1] == '\0');
}

// Counts the drivers listed, and notes a library check that was not "ok".
static int write_driver_lines(const list_options& options, loader_state& run, package_memory& packages,
                              int* listed_drivers, size_t* listed_bytes, bool* names_cut, bool* library_problems) {
  const line_writer& out = options.json_lines ? json_lines : tab_lines;
  SQLCHAR description[256];
  SQLCHAR attributes[attributes_capacity + 1];
  SQLSMALLINT description_length = 0;
  SQLSMALLINT attributes_length = 0;
  // Never handed to the Driver Manager, so a description always ends here.
  description[255] = '\0';

  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    // A Driver Manager that cuts the list leaves the rest of the buffer as
    // it was; cleared, it cannot show the previous driver's entries.
    memset(attributes, 0, sizeof attributes);
    description_length = 0;
    const SQLRETURN result = SQLDrivers(env_handle, direction, description, 255, &description_length, attributes,
                                        attributes_capacity, &attributes_length);
    if (static_cast<int16_t>(result) == SQL_NO_DATA) return status_listed;
    if (!odbc_ok(result)) {
      fputs("ERROR: could not list drivers", stderr);
      return status_listing_failed;
    }

    const char* name = reinterpret_cast<const char*>(description);
    const char* listed = reinterpret_cast<const char*>(attributes);
    out.description(name);
    ++*listed_drivers;
    // A cut description may name another driver, so only the list, which
    // the Driver Manager read by the whole name, may stand for this one.
    const bool description_cut = description_length >= SQLSMALLINT{sizeof description - 1};
    *listed_bytes += strlen(name) + 1;
    *names_cut = *names_cut || description_cut;
    const bool whole = list_is_whole(result, description_cut, attributes, attributes_length);
    library_verdict verdict;
    if (!options.brief || options.check_library)
      print_driver_file(description_cut ? nullptr : name, whole ? listed : nullptr, options, out, run, packages,
                        &verdict);
    if (!options.brief && options.show_attributes) print_attributes(listed, attributes_length, whole, out);
    if (options.check_library) {
      char word[word_capacity];
      write_word(verdict, word, sizeof word);
      out.advice(verdict.have, verdict.elsewhere, verdict.hint);
      out.check(word, verdict.file, verdict.road, verdict.searched);
      if (verdict.kind != verdict_ok) *library_problems = true;
    }
    out.end();
    direction = SQL_FETCH_NEXT;
  }
}

// The listing of drivers, in an environment set for ODBC 3.
static int driver_listing(const list_options& options) {
  int listed_drivers = 0;
  size_t listed_bytes = 0;
  bool names_cut = false;
  bool library_problems = false;
  // What the checks read, kept for the whole listing.
  loader_state run{};
  package_memory packages{};
  int status =
      write_driver_lines(options, run, packages, &listed_drivers, &listed_bytes, &names_cut, &library_problems);
  reset_loader(run);
  forget_library_versions(packages);
  if (status == status_listed && options.check_library && listed_drivers == 0) {
    // An empty listing mostly means the Driver Manager reads another file
    // than the one the user filled.
    platform_describe_installer_file();
  } else if (status == status_listed && options.check_library) {
    // The drivers the Driver Manager leaves out cannot be checked at all.
    const int installed = platform_count_installed_drivers(listed_drivers, listed_bytes, names_cut);
    if (installed > listed_drivers) {
      char listed[24], all[24];
      fputs("WARNING: the Driver Manager listed ", stderr);
      fputs(decimal_text(static_cast<unsigned>(listed_drivers), 1, listed), stderr);
      fputs(" of the ", stderr);
      fputs(decimal_text(static_cast<unsigned>(installed), 1, all), stderr);
      fputs(" drivers in odbcinst.ini\n", stderr);
      library_problems = true;
    }
    if (library_problems) status = status_library_problem;
  }
  return status;
}

int list_in_environment(const list_options& options, int (*listing)(const list_options& options)) {
  if (!odbc_ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_handle))) {
    fputs("ERROR: could not allocate environment handle.", stderr);
    return status_no_environment;
  }

  int status;
  const SQLPOINTER odbc3 = reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_OV_ODBC3));
  if (odbc_ok(SQLSetEnvAttr(env_handle, SQL_ATTR_ODBC_VERSION, odbc3, 0))) {
    status = listing(options);
  } else {
    fputs("ERROR: could not set ODBC version", stderr);
    status = status_no_odbc_version;
  }

  SQLFreeHandle(SQL_HANDLE_ENV, env_handle);
  env_handle = SQL_NULL_HENV;
  return status;
}

int list_drivers(const list_options& options) { return list_in_environment(options, driver_listing); }

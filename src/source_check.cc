// The check of a data source.
#include "source_check.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

void check_source(loader_state& run, const char* dsn, source_resolution* resolution, library_verdict* verdict) {
  platform_resolve_source(dsn, resolution);
  switch (resolution->outcome) {
    case source_library_found: check_library(run, resolution->library, resolution->library, verdict); return;
    case source_driver_unknown:
      // iODBC loads the name as a library; where there is none, the name
      // is all there is.
      if (resolution->library[0]) {
        check_library(run, resolution->library, resolution->library, verdict);
        if (verdict->kind != verdict_missing) return;
      }
      set_verdict(verdict, verdict_unknown_driver);
      break;
    case source_names_no_driver: set_verdict(verdict, verdict_no_driver); break;
    case source_source_other_bitness: set_verdict(verdict, verdict_other_bitness, "source"); break;
    case source_driver_other_bitness: set_verdict(verdict, verdict_other_bitness, "driver"); break;
  }
  verdict->file[0] = verdict->road[0] = verdict->searched[0] = '\0';
}

bool secret_key(const char* key, size_t length) {
  char lower[256];
  if (length >= sizeof lower) length = sizeof lower - 1;
  for (size_t i = 0; i < length; ++i) lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(key[i])));
  lower[length] = '\0';
  for (const char* word : {"password", "passwd", "pwd", "secret", "token"})
    if (strstr(lower, word)) return true;
  return false;
}

namespace {

enum { name_capacity = 256 };

// A name as the comparison takes it: lower case, without blanks.
void folded(const char* name, char* out) {
  size_t used = 0;
  for (; *name && used + 1 < name_capacity; ++name)
    if (!isspace(static_cast<unsigned char>(*name)))
      out[used++] = static_cast<char>(tolower(static_cast<unsigned char>(*name)));
  out[used] = '\0';
}

// The edit distance of two folded names, counted no further than 3.
unsigned distance(const char* a, const char* b) {
  const size_t m = strlen(a), n = strlen(b);
  if ((m > n ? m - n : n - m) > 2) return 3;
  unsigned row[name_capacity];
  for (size_t j = 0; j <= n; ++j) row[j] = static_cast<unsigned>(j);
  for (size_t i = 1; i <= m; ++i) {
    unsigned diagonal = row[0];
    row[0] = static_cast<unsigned>(i);
    for (size_t j = 1; j <= n; ++j) {
      const unsigned above = row[j];
      const unsigned replaced = diagonal + (a[i - 1] != b[j - 1]);
      row[j] = replaced < above + 1 ? replaced : above + 1;
      if (row[j - 1] + 1 < row[j]) row[j] = row[j - 1] + 1;
      diagonal = above;
    }
  }
  return row[n] < 3 ? row[n] : 3;
}

}  // namespace

void near_names(const char* name, const char* drivers, char* out, size_t cap) {
  out[0] = '\0';
  char wanted[name_capacity];
  folded(name, wanted);
  size_t used = 0;
  for (unsigned nearness = 0; nearness < 3; ++nearness) {
    for (const char* driver = drivers; *driver; driver += strlen(driver) + 1) {
      char candidate[name_capacity];
      folded(driver, candidate);
      const size_t length = strlen(driver);
      if (distance(wanted, candidate) != nearness || used + length + 2 > cap) continue;
      memcpy(out + used, driver, length + 1);
      used += length + 1;
      out[used] = '\0';
    }
  }
}

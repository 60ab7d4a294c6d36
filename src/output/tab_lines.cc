// TAB lines: the fields of a driver, TAB-separated, byte for byte.
#include <cstdio>

#include <cstring>

#include "number_text.h"
#include "output/line_writer.h"

void format_product_version(char* buffer, unsigned major, unsigned minor, unsigned build, unsigned revision) {
  // Each number a 16-bit one: the four fit 24 bytes.
  const unsigned numbers[] = {major, minor, build, revision};
  buffer[0] = '\0';
  for (int i = 0; i < 4; ++i) {
    char text[24];
    if (i > 0) strcat(buffer, ".");
    strcat(buffer, decimal_text(numbers[i] & 0xFFFF, i > 0 ? 2 : 1, text));
  }
}

static void tab_description(const char* text) { fputs(text, stdout); }

static void tab_library(const char* head, const char* tail) {
  fputc('\t', stdout);
  fputs(head, stdout);
  fputs(tail, stdout);
}

static void tab_version(unsigned major, unsigned minor, unsigned build, unsigned revision) {
  char version[24];
  format_product_version(version, major, minor, build, revision);
  fputc('\t', stdout);
  fputs(version, stdout);
}

static void tab_package_version(const char* version, const char*) {
  fputc('\t', stdout);
  fputs(version, stdout);
}

static void tab_attribute(const char* entry, size_t length) {
  fputc('\t', stdout);
  fwrite(entry, 1, length, stdout);
}

static void tab_check(const char* word, const char*, const char*, const char*) {
  fputc('\t', stdout);
  fputs(word, stdout);
}

static void tab_advice(const char*, const char*, const char*) {}

static void tab_end() { fputc('\n', stdout); }

static void tab_source(const char* name, const char*) { fputs(name, stdout); }

static void tab_driver(const char* name) {
  fputc('\t', stdout);
  fputs(name, stdout);
}

static void tab_nothing(const char*) {}

const line_writer tab_lines = {tab_description, tab_library, tab_version, tab_package_version,
                               tab_attribute,   tab_check,   tab_advice,  tab_end,
                               tab_source,      tab_driver,  tab_nothing, tab_nothing};

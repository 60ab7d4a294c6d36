// JSON Lines: one JSON object per driver and line, text in UTF-8.
#include <cstdio>
#include <cstring>

#include "number_text.h"
#include "output/line_writer.h"
#include "platform/platform.h"

static void write_code_point(unsigned c) {
  switch (c) {
    case '"': fputs("\\\"", stdout); return;
    case '\\': fputs("\\\\", stdout); return;
    case '\b': fputs("\\b", stdout); return;
    case '\f': fputs("\\f", stdout); return;
    case '\n': fputs("\\n", stdout); return;
    case '\r': fputs("\\r", stdout); return;
    case '\t': fputs("\\t", stdout); return;
  }
  if (c < 0x20 || c == 0x7F) {
    char hex[8];
    fputs("\\u", stdout);
    fputs(hex_text(c, 4, hex), stdout);
  } else if (c < 0x80) {
    fputc(static_cast<int>(c), stdout);
  } else if (c < 0x800) {
    fputc(static_cast<int>(0xC0 | c >> 6), stdout);
    fputc(static_cast<int>(0x80 | (c & 0x3F)), stdout);
  } else if (c < 0x10000) {
    fputc(static_cast<int>(0xE0 | c >> 12), stdout);
    fputc(static_cast<int>(0x80 | (c >> 6 & 0x3F)), stdout);
    fputc(static_cast<int>(0x80 | (c & 0x3F)), stdout);
  } else {
    fputc(static_cast<int>(0xF0 | c >> 18), stdout);
    fputc(static_cast<int>(0x80 | (c >> 12 & 0x3F)), stdout);
    fputc(static_cast<int>(0x80 | (c >> 6 & 0x3F)), stdout);
    fputc(static_cast<int>(0x80 | (c & 0x3F)), stdout);
  }
}

void write_json_text(const char* text, size_t length) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length;) {
    unsigned code_point = bytes[i];
    const size_t taken = code_point < 0x80 ? 1 : platform_decode_text(bytes + i, length - i, &code_point);
    if (taken == 0) {
      // A lone surrogate, as Python's surrogateescape writes the byte.
      char hex[4];
      fputs("\\udc", stdout);
      fputs(hex_text(bytes[i], 2, hex), stdout);
      ++i;
      continue;
    }
    write_code_point(code_point);
    i += taken;
  }
}

static void write_string(const char* text) {
  fputc('"', stdout);
  write_json_text(text, strlen(text));
  fputc('"', stdout);
}

// The attribute array is open from the first entry to the next member or
// the end of the object.
static bool attributes_open = false;

static void close_attributes() {
  if (attributes_open) fputc(']', stdout);
  attributes_open = false;
}

static void json_description(const char* text) {
  attributes_open = false;
  fputs("{\"description\":", stdout);
  write_string(text);
}

static void json_library(const char* head, const char* tail) {
  fputs(",\"library\":\"", stdout);
  write_json_text(head, strlen(head));
  write_json_text(tail, strlen(tail));
  fputc('"', stdout);
}

static void json_version(unsigned major, unsigned minor, unsigned build, unsigned revision) {
  char version[24];
  format_product_version(version, major, minor, build, revision);
  fputs(",\"version\":", stdout);
  write_string(version);
}

static void json_package_version(const char* version, const char* package) {
  fputs(",\"version\":", stdout);
  write_string(version);
  if (!*package) return;
  fputs(",\"package\":", stdout);
  write_string(package);
}

static void json_attribute(const char* entry, size_t length) {
  fputs(attributes_open ? ",\"" : ",\"attributes\":[\"", stdout);
  attributes_open = true;
  write_json_text(entry, length);
  fputc('"', stdout);
}

// A member holding a list's entries as an array, where it has any.
static void write_list(const char* member, const char* list) {
  for (const char* entry = list; *entry; entry += strlen(entry) + 1) {
    fputs(entry == list ? member : ",", stdout);
    write_string(entry);
  }
  if (*list) fputc(']', stdout);
}

static void json_check(const char* word, const char* file, const char* road, const char* searched) {
  close_attributes();
  if (file[0] != '\0') {
    fputs(",\"file\":", stdout);
    write_string(file);
  }
  write_list(",\"road\":[", road);
  write_list(",\"searched\":[", searched);
  fputs(",\"check\":", stdout);
  write_string(word);
}

static void json_advice(const char* have, const char* elsewhere, const char* hint) {
  close_attributes();
  write_list(",\"have\":[", have);
  write_list(",\"elsewhere\":[", elsewhere);
  if (!*hint) return;
  fputs(",\"hint\":", stdout);
  write_string(hint);
}

static void json_end() {
  close_attributes();
  fputs("}\n", stdout);
}

static void json_source(const char* name, const char* scope) {
  attributes_open = false;
  fputs("{\"dsn\":", stdout);
  write_string(name);
  fputs(",\"scope\":", stdout);
  write_string(scope);
}

static void json_driver(const char* name) {
  fputs(",\"driver\":", stdout);
  write_string(name);
}

static void json_source_library(const char* library) {
  close_attributes();
  if (!*library) return;
  fputs(",\"library\":", stdout);
  write_string(library);
}

static void json_near(const char* names) {
  close_attributes();
  write_list(",\"near\":[", names);
}

const line_writer json_lines = {json_description, json_library, json_version,        json_package_version,
                                json_attribute,   json_check,   json_advice,         json_end,
                                json_source,      json_driver,  json_source_library, json_near};

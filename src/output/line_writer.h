// The form of the driver lines on standard output, in one place: the
// listing hands each field to a writer as soon as it is known, and the
// writer alone knows how fields are separated and quoted. Nothing beyond
// one field is held.
#pragma once

#include <cstddef>

struct line_writer {
  // Starts a driver's line with its description.
  void (*description)(const char* text);
  // The library path, in two pieces so that no buffer limits its length.
  void (*library)(const char* head, const char* tail);
  void (*version)(unsigned major, unsigned minor, unsigned build, unsigned revision);
  // The version as a package database records it, and the package's name
  // (empty where none is known; only JSON Lines write it).
  void (*package_version)(const char* version, const char* package);
  // One attribute entry, as the Driver Manager returned it; called once
  // per entry, in order.
  void (*attribute)(const char* entry, size_t length);
  // The word of the library check, always the last field, and what only
  // JSON Lines write: the file it checked (empty when none was found), the
  // road to a failure within the load and the places searched for a name
  // found nowhere (lists of entries, each ending in a NUL, the list in an
  // empty one).
  void (*check)(const char* word, const char* file, const char* road, const char* searched);
  // What only JSON Lines write before the check: the versions a file has of
  // a missing one's family and files of a name found nowhere (lists), and a
  // hint (text); each where not empty.
  void (*advice)(const char* have, const char* elsewhere, const char* hint);
  // Ends the driver's line.
  void (*end)();
  // A data source's line: its name and scope ("user", "system"), then the
  // driver it names (a field of its own); what only JSON Lines write: the
  // library its driver resolves to, and the installed drivers whose names
  // are closest to one the Driver Manager does not know (a list).
  void (*source)(const char* name, const char* scope);
  void (*driver)(const char* name);
  void (*source_library)(const char* library);
  void (*closest)(const char* names);
};

// TAB-separated fields, byte for byte as returned, a line each.
extern const line_writer tab_lines;
// One JSON object a line (JSON Lines), text converted to UTF-8.
extern const line_writer json_lines;

// The product version as both forms write it: major.minor.build.revision,
// the last three at least two digits wide. buffer holds 24 bytes.
void format_product_version(char* buffer, unsigned major, unsigned minor, unsigned build, unsigned revision);

// Writes text as the inside of a JSON string: characters the platform's
// text encoding decodes are written in UTF-8, quote, backslash and control
// characters escaped; each byte it cannot decode is written as \udcXX, XX
// being the byte, so that every byte can be recovered.
void write_json_text(const char* text, size_t length);

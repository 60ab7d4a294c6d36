// The version of a driver's library as the system that installed it
// records it: the library's own package note, Debian's or RPM's package
// database, a Mach-O library's current version. The readers are pure
// functions over bytes; a run's databases are read once, on first need.
#pragma once

#include <cstddef>
#include <cstdint>

#include "loader/binary_file.h"
#include "output/line_writer.h"
#include "platform/platform.h"

// Bytes and their length, not terminated.
struct text_span {
  const char* at;
  size_t length;
};

// A version and the name of the package that holds it, as the database
// writes them (the name empty where no package is known).
enum : size_t { package_text_capacity = 129 };
struct package_id {
  char name[package_text_capacity];
  char version[package_text_capacity];
};

// Whether text may be written as a version or a package's name: 1 to 128
// printable ASCII characters, none of them blank.
bool package_text_ok(text_span text);

// The "name" and "version" strings of a package note's JSON object; false
// when the JSON is not valid, a member comes twice, or the version cannot
// be written.
bool read_note_json(text_span json, package_id* id);

// The package note of an ELF file (owner "FDO", type 0xcafe1a7e), in its
// note sections or, without section headers, its note segments, each of
// at most 64 KiB: false when it has none that read_note_json takes.
bool read_package_note(binary_file* file, package_id* id);

// A Mach-O library's current version (LC_ID_DYLIB) as "a.b.c", of the
// slice of a universal file for this program's architecture; false where
// there is none.
bool read_dylib_version(binary_file* file, package_id* id);

// A stanza of dpkg's status file as its lines are read, each field kept
// where it fits (else empty).
struct dpkg_stanza {
  char package[package_text_capacity], architecture[package_text_capacity], version[package_text_capacity];
  bool multi_arch_same;
  // Unpacked or further: its files are on disk as its list names them.
  bool files_installed;
};
// Reads one whole line of a stanza into it; false for the blank line that
// ends it.
bool read_stanza_line(text_span line, dpkg_stanza* stanza);

// The lines of a file, read through a window of fixed size; a line longer
// than the window, and a last line without its newline, are passed over.
struct line_reader {
  platform_file file;
  uint64_t next;
  char* window;
  size_t capacity, start, end;
  bool skipping;
};
bool open_lines(const char* path, char* window, size_t capacity, line_reader* reader);
bool next_line(line_reader* reader, text_span* line);
void close_lines(line_reader* reader);

// A diversion: a file that packages other than `by` ship as `from` is put
// at `to` (by ":" for the administrator's own).
struct dpkg_diversion {
  text_span from, to, by;
};
// The diversion whose from or to is path, in dpkg's diversions file (three
// whole lines each); false when none is.
bool find_diversion(text_span diversions, text_span path, dpkg_diversion* found);

// The path on the other side of a merged /usr (/lib/x for /usr/lib/x and
// the reverse), into alias (cap bytes); false outside the merged folders.
bool usr_merge_alias(const char* path, char* alias, size_t cap);

uint64_t path_hash(const char* path, size_t length);

// A package whose files are on disk: its name, architecture and version,
// each a NUL-terminated text in the run's pool.
struct dpkg_package {
  uint32_t name, architecture, version;
  bool multi_arch_same;
};

// A shared object's path a package's list names, by its hash, chained in
// its bucket.
struct listed_path {
  uint64_t hash;
  uint32_t package;
  uint32_t next;
};

// What a run reads of the package databases, on first need, kept for the
// next driver. Lists are read through one window and only the paths of
// shared objects kept, so that a run touches little memory.
struct package_memory {
  bool dpkg_read;
  char admin_folder[4096];
  char* window;
  char* diversions;
  size_t diversions_size;
  char* texts;
  uint32_t texts_used, texts_size;
  dpkg_package* packages;
  uint32_t package_count, package_size;
  // Buckets hold their first entry + 1.
  uint32_t* buckets;
  uint32_t bucket_count;
  listed_path* paths;
  uint32_t path_count, path_size;
  uint64_t lists_read;
  bool rpm_tried;
  platform_rpm* rpm;
};

// Hands the version of file (the file the Driver Manager would load, an
// absolute path) to the writer, from the first of this system's sources
// that knows it: the file itself, value (the library value, a path as the
// installer's settings give it) or the file with its links resolved.
// Nothing when none does.
void print_package_version(package_memory& memory, const char* file, const char* value, const line_writer& out);

// Frees what the run has read.
void reset_package_memory(package_memory& memory);

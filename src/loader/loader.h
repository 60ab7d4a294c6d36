// The loader's model, its one face: would this process's dynamic loader
// load a library the Driver Manager asks for, and everything it needs?
// Files are read from their headers; nothing is loaded or run.
#pragma once

#include <cstddef>

enum library_arch { arch_x86, arch_x64, arch_arm64, arch_arm, arch_other };

// The architecture this program is built for.
library_arch program_arch();

// What the model says of one library.
struct library_verdict {
  // "ok", "missing", "unreadable", "not-a-library", "mismatch:ARCH",
  // "not-followed", "not-a-driver", or of something a library of its load
  // needs: "missing-dependency:NAME", "missing-version:NAME:VERSION",
  // "mismatch-dependency:NAME:ARCH", "unreadable-dependency:NAME",
  // "not-a-library-dependency:NAME", "not-followed-dependency:NAME",
  // "undefined-symbol:NAME", "missing-procedure:DLL:NAME".
  char word[600];
  // The file the loader would load, as an absolute path; empty when none
  // was found.
  char file[4096];
  // Lists, each entry ending in a NUL and the list in an empty one: the
  // road to a failure within the load (the files from the library to the
  // one whose need failed, in load order), and, for a name found nowhere,
  // the places searched for it in the loader's order (folders; glibc's
  // cache as its file). Entries that do not fit are left out, "..." in
  // their place.
  char road[4096];
  char searched[8192];
};

// Appends an entry to such a list (cap bytes): false where it did not fit.
bool add_to_list(char* list, size_t cap, const char* entry);

// Appends a place searched unless the list names it already: a folder
// tried again later in a search is still the place where it was first tried.
void add_place(char* list, size_t cap, const char* place);

// Loads name as this process's loader would when the Driver Manager asks
// for it, and says so in verdict: a path is opened as it stands, a bare
// name searched for as the loader searches it. What a run has read is
// read once.
void load_library(const char* name, library_verdict* verdict);

// Forgets everything the run has read, so that the next load reads again.
void reset_loader();

// The formats of libraries the model reads.
enum library_format { format_pe, format_elf, format_macho };

// Whether bytes are a library in the given format that this program's
// loader would map, and if so for which architecture (also when it is for
// another one): the header checks of each format, for tests and the
// fuzzer.
bool classify_library(const unsigned char* bytes, size_t length, library_format format, library_arch* arch);

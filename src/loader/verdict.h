// What the model says of one library: a verdict with a kind, what it is
// about and its details, written as a word in one place. Includes nothing of
// the tool, so that every part of the model can give one.
#pragma once

#include <cstddef>

enum library_arch { arch_x86, arch_x64, arch_arm64, arch_arm, arch_other };

// The architecture this program is built for.
library_arch program_arch();

// The kinds of verdict, each a word: "ok", "missing", "unreadable",
// "not-a-library", "mismatch:ARCH", "not-followed", "not-a-driver"; of
// something a library of the load needs, the first five and the sixth with
// "-dependency:NAME" (mismatch: "mismatch-dependency:NAME:ARCH");
// "missing-version:NAME:VERSION", "undefined-symbol:NAME[@VERSION]",
// "missing-procedure:DLL:NAME" (an ordinal as "#N"); of a data source,
// "no-driver", "unknown-driver", "other-bitness:source|driver".
enum verdict_kind {
  verdict_ok,
  verdict_missing,
  verdict_unreadable,
  verdict_not_a_library,
  verdict_mismatch,
  verdict_not_followed,
  verdict_not_a_driver,
  verdict_missing_version,
  verdict_undefined_symbol,
  verdict_missing_procedure,
  verdict_no_driver,
  verdict_unknown_driver,
  verdict_other_bitness,
};

// The longest word a verdict writes, its NUL counted: its names are each cut
// to 255 bytes.
enum : size_t { word_capacity = 600, verdict_name_capacity = 256 };

struct library_verdict {
  verdict_kind kind;
  // What the word is about, as a file names it (control characters as
  // '?', at most 255 bytes): the library a library of the load needs (for
  // the first six kinds, empty for the library itself), the version's file,
  // the symbol, the DLL; and its detail: the version, the function.
  char subject[verdict_name_capacity];
  char detail[verdict_name_capacity];
  // Whether it has them (a name may be empty).
  bool has_subject, has_detail;
  library_arch arch;  // mismatch
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
  // Advice that only JSON Lines write: for missing-version, the versions
  // the found file defines of the same family, oldest first (a list); for a
  // name found nowhere, files of that name where a vendor's layout puts
  // them but no search reaches (a list); for a library value that names a
  // setup library, a hint (text).
  char have[2048];
  char elsewhere[4096];
  char hint[256];
};

// Gives the verdict its kind, subject and detail (null: none).
void set_verdict(library_verdict* verdict, verdict_kind kind, const char* subject = nullptr,
                 const char* detail = nullptr);

// The verdict as its word, into text (cap bytes).
void write_word(const library_verdict& verdict, char* text, size_t cap);

// The places searched belong to a name found nowhere alone: forgets them
// for every other verdict (and the advice for it).
void keep_places_for_missing(library_verdict* verdict);

// Appends an entry to a verdict's list (cap bytes): false where it did not
// fit.
bool add_to_list(char* list, size_t cap, const char* entry);

// Appends a place searched unless the list names it already: a folder
// tried again later in a search is still the place where it was first tried.
void add_place(char* list, size_t cap, const char* place);

// Appends a name from a file to a word: at most 255 bytes, control
// characters as '?', so that it cannot break a line.
void append_name(char* word, size_t cap, const char* name);

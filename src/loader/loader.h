// The loader's model, its one face: would this process's dynamic loader
// load a library the Driver Manager asks for, and everything it needs?
// Files are read from their headers; nothing is loaded or run. The caller
// owns the run's state and hands it to each load.
#pragma once

#include <cstddef>

#include "loader/state.h"
#include "loader/verdict.h"

// Loads name as this process's loader would when the Driver Manager asks
// for it, and says so in verdict: a path is opened as it stands, a bare
// name searched for as the loader searches it. What a run has read is
// read once.
void load_library(loader_state& run, const char* name, library_verdict* verdict);

// The file this process's loader would take for name, as load_library
// finds it but without the load, as an absolute path into file (cap
// bytes); false when it would find none it could load.
bool locate_library(loader_state& run, const char* name, char* file, size_t cap);

// Forgets everything the run has read and frees it, so that the next load
// reads again.
void reset_loader(loader_state& run);

// The formats of libraries the model reads.
enum library_format { format_pe, format_elf, format_macho };

// Whether bytes are a library in the given format that this program's
// loader would map, and if so for which architecture (also when it is for
// another one): the header checks of each format, for tests and the
// fuzzer.
bool classify_library(const unsigned char* bytes, size_t length, library_format format, library_arch* arch);

// The check of a data source: what the Driver Manager finds when an
// application connects to it by name (IM002's causes told apart), then the
// check of the library it would load.
#pragma once

#include <cstddef>

#include "library_check.h"
#include "platform/platform.h"

// Resolves the source as the Driver Manager does into resolution and
// checks what it would load into verdict, in the run.
void check_source(loader_state& run, const char* dsn, source_resolution* resolution, library_verdict* verdict);

// Whether a setting's key names a secret (a password, PWD, a secret, a
// token), whose value is never written.
bool secret_key(const char* key, size_t length);

// The names of drivers (a list: each ending in a NUL, then an empty one)
// closest to name: the same but for letter case and blanks, or one or two
// letters off; the nearest first, into out (cap bytes), as such a list.
void near_names(const char* name, const char* drivers, char* out, size_t cap);

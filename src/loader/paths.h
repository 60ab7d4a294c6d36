// Paths and names as the loaders take them apart: folders, file names,
// names compared without regard to case, the tokens of glibc's lists.
#pragma once

#include <cstddef>

enum : size_t { path_capacity = 4096 };

// Copies text, cut to fit cap.
void copy_text(char* to, const char* from, size_t cap);

// The folder of a path: "." for a bare name, "/" for the root; slash is
// the loader's separator ('\\' also takes '/').
void folder_of(const char* path, char slash, char* folder, size_t cap);

// The file name of a path, after its last '/' or '\\'.
const char* base_name(const char* path);

// Whether two module names are the same, without regard to ASCII case, as
// Windows compares them.
bool same_module(const char* a, const char* b);

// How an expansion of tokens ended.
enum expansion { expanded, token_without_value, expansion_too_long };

// Expands $ORIGIN (origin), $LIB and $PLATFORM in length bytes of text, as
// glibc does, into out (cap bytes). A token without a value here drops the
// whole text.
expansion expand_tokens(const char* text, size_t length, const char* origin, char* out, size_t cap);

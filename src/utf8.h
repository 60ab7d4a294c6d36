// UTF-8 decoding: where one character of UTF-8 text ends, and which it is.
#pragma once

#include <cstddef>

// Decodes the UTF-8 character at the start of bytes: returns how many bytes
// it takes and its code point, or 0 when they do not start a valid one
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t decode_utf8(const unsigned char* bytes, size_t length, unsigned* code_point);

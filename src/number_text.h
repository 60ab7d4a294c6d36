// Numbers as text, without printf: the Windows programs then carry no
// formatting engine of their own.
#pragma once

#include <cstddef>

// Writes value in decimal, at least min_digits digits (zeros before), into
// text (at least 21 bytes) and returns text.
char* decimal_text(unsigned long long value, int min_digits, char* text);

// Writes value in lower-case hexadecimal, exactly digits digits (at most
// 16), into text and returns text.
char* hex_text(unsigned long long value, int digits, char* text);

// A driver's attribute list, as SQLDrivers returns it: keyword=value
// entries, each ended by a NUL, the list closed by one more NUL.
#pragma once

// The bytes SQLDrivers may fill; its buffer holds one more.
constexpr int attributes_capacity = 1023;

#include "output/line_writer.h"

// Hands each entry to the writer: of a whole list, the entries within the
// returned length; of a list that may be cut, those before its closing
// empty entry.
void print_attributes(const char* attributes, short length, bool list_is_whole, const line_writer& out);

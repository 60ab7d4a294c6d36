// A driver's attribute list, as SQLDrivers returns it: keyword=value
// entries, each ended by a NUL, the list closed by one more NUL.
#pragma once

// The bytes SQLDrivers may fill; its buffer holds one more.
constexpr int attributes_capacity = 1023;

// Writes each entry within the returned length as TAB and the entry.
void print_attributes(const char* attributes, short length);

#include "attributes.h"

#include <cstdio>

void print_attributes(const char* attributes, short length) {
  // A length beyond the buffer means the Driver Manager cut the list at an
  // entry boundary and closed it with an empty entry; nothing after that
  // was written by it.
  const bool cut = length > attributes_capacity;
  const int end = cut ? attributes_capacity : length;

  int piece_start = 0;
  for (int i = 0; i < end; ++i) {
    if (attributes[i] != '\0') continue;
    if (cut && i == piece_start) return;
    fputc('\t', stdout);
    fwrite(attributes + piece_start, 1, static_cast<size_t>(i - piece_start), stdout);
    piece_start = i + 1;
  }
  // Characters after the last NUL within the length were never closed and
  // are not written.
}

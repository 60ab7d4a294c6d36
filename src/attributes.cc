// The attribute fields of a driver's line.
#include "attributes.h"

void print_attributes(const char* attributes, short length, bool list_is_whole, const line_writer& out) {
  // A cut list ends at an entry boundary, closed by an empty entry; nothing
  // after that was written by the Driver Manager.
  const bool cut = !list_is_whole || length < 0 || length > attributes_capacity;
  const int end = cut ? attributes_capacity : length;

  int piece_start = 0;
  for (int i = 0; i < end; ++i) {
    if (attributes[i] != '\0') continue;
    if (cut && i == piece_start) return;
    out.attribute(attributes + piece_start, static_cast<size_t>(i - piece_start));
    piece_start = i + 1;
  }
  // Characters after the last NUL within the length were never closed and
  // are not written.
}

// UTF-8 decoding.
#include "utf8.h"

size_t decode_utf8(const unsigned char* bytes, size_t length, unsigned* code_point) {
  const unsigned lead = bytes[0];
  size_t size;
  unsigned value, lowest;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, value = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, value = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, value = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (length < size) return 0;
  for (size_t i = 1; i < size; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (bytes[i] & 0x3F);
  }
  if (value < lowest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code_point = value;
  return size;
}

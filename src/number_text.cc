// Numbers as text.
#include "number_text.h"

char* decimal_text(unsigned long long value, int min_digits, char* text) {
  char digits[21];
  int count = 0;
  do digits[count++] = static_cast<char>('0' + value % 10), value /= 10;
  while (value != 0 || count < min_digits);
  for (int i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
  text[count] = '\0';
  return text;
}

char* hex_text(unsigned long long value, int digits, char* text) {
  for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = "0123456789abcdef"[value & 0xF];
  text[digits] = '\0';
  return text;
}

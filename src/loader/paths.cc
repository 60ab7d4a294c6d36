// Paths and names as the loaders take them apart.
#include "loader/paths.h"

#include <cctype>
#include <cstring>

#include "platform/platform.h"

void copy_text(char* to, const char* from, size_t cap) {
  const size_t length = strnlen(from, cap - 1);
  memcpy(to, from, length);
  to[length] = '\0';
}

void folder_of(const char* path, char slash, char* folder, size_t cap) {
  const char* last = strrchr(path, slash);
  if (slash == '\\' && strrchr(path, '/') > last) last = strrchr(path, '/');
  const size_t length = !last ? 0 : last == path ? 1 : static_cast<size_t>(last - path);
  copy_text(folder, length ? path : ".", length && length < cap ? length + 1 : 2);
}

const char* base_name(const char* path) {
  const char* base = path;
  for (const char* at = path; *at; ++at)
    if (*at == '/' || *at == '\\') base = at + 1;
  return base;
}

bool same_module(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// The length of a $NAME or ${NAME} token at the text after a '$', or 0.
static size_t token_length(const char* at, size_t left, const char* name) {
  const size_t length = strlen(name);
  const bool braced = left > 0 && at[0] == '{';
  const size_t start = braced ? 1 : 0;
  if (left < start + length || memcmp(at + start, name, length) != 0) return 0;
  if (braced) return left > start + length && at[start + length] == '}' ? length + 2 : 0;
  const unsigned char next = left > length ? static_cast<unsigned char>(at[length]) : 0;
  return isalnum(next) || next == '_' ? 0 : length;
}

expansion expand_tokens(const char* text, size_t length, const char* origin, char* out, size_t cap) {
  static const char* const names[] = {"ORIGIN", "LIB", "PLATFORM"};
  const char* const values[] = {origin, platform_loader_facts().lib_token, platform_loader_facts().platform_token};
  size_t used = 0;
  for (size_t i = 0; i < length;) {
    size_t taken = 0;
    const char* value = nullptr;
    for (int k = 0; k < 3 && text[i] == '$' && !taken; ++k)
      if ((taken = token_length(text + i + 1, length - i - 1, names[k])) != 0) value = values[k];
    if (taken && !value) return token_without_value;
    const char* piece = taken ? value : text + i;
    const size_t piece_length = taken ? strlen(value) : 1;
    if (used + piece_length >= cap) return expansion_too_long;
    memcpy(out + used, piece, piece_length);
    used += piece_length;
    i += taken ? 1 + taken : 1;
  }
  out[used] = '\0';
  return expanded;
}

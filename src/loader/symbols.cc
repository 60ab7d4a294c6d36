// A file's symbols read in place, where a lookup reaches them.
#include "loader/symbols.h"

#include <cstring>

#include "loader/formats.h"

bool symbol_at(const elf_symbols& t, uint32_t index, elf_symbol* symbol) {
  const image_view& v = t.symbols;
  const unsigned size = t.wide ? elf64_sym_size : elf32_sym_size;
  const uint64_t at = v.start + uint64_t{index} * size;
  if (at > v.memory_length || size > v.memory_length - at) return false;
  unsigned char copy[elf64_sym_size] = {};  // zeros past the file's part
  const unsigned char* entry = v.bytes + at;
  if (at + size > v.file_length) {
    if (at < v.file_length) memcpy(copy, entry, v.file_length - at);
    entry = copy;
  }
  const unsigned char* tail = entry + (t.wide ? elf64_st_info : elf32_st_info);  // st_info, st_other, st_shndx
  const unsigned char* value = entry + (t.wide ? elf64_st_value : elf32_st_value);
  bool valued = false;
  for (unsigned i = 0; i < (t.wide ? 8u : 4u); ++i) valued = valued || value[i];
  *symbol = {static_cast<uint32_t>(entry[st_name] | entry[st_name + 1] << 8 | entry[st_name + 2] << 16 |
                                   static_cast<uint32_t>(entry[st_name + 3]) << 24),
             tail[0], tail[1], static_cast<uint16_t>(tail[2] | tail[3] << 8), valued};
  return true;
}

bool name_is(const elf_symbols& t, uint32_t offset, const char* name) {
  const image_view& v = t.strings;
  const uint64_t at = v.start + offset;
  const size_t length = strlen(name) + 1;  // its NUL too
  if (at > v.memory_length || length > v.memory_length - at) return false;
  const uint64_t from_file = at >= v.file_length ? 0 : v.file_length - at;
  if (from_file >= length) return memcmp(v.bytes + at, name, length) == 0;
  // The rest lies in the zeros past the file's part: only the NUL matches.
  return memcmp(v.bytes + at, name, static_cast<size_t>(from_file)) == 0 && length - from_file == 1;
}

const char* text_at(const elf_symbols& t, uint32_t offset, char* spare, size_t cap) {
  const image_view& v = t.strings;
  const uint64_t at = v.start + offset;
  spare[0] = '\0';
  if (at >= v.memory_length) return spare;
  const uint64_t from_file = at >= v.file_length ? 0 : v.file_length - at;
  const unsigned char* bytes = v.bytes + at;
  if (from_file && memchr(bytes, 0, static_cast<size_t>(from_file))) return reinterpret_cast<const char*>(bytes);
  const size_t length = from_file < cap - 1 ? static_cast<size_t>(from_file) : cap - 1;
  memcpy(spare, bytes, length);
  spare[length] = '\0';
  return spare;
}

bool version_index_at(const elf_symbols& t, uint32_t index, uint16_t* version) {
  uint64_t value = 0;
  if (t.versioned && !view_value(t.symbol_versions, int64_t{index} * 2, 2, &value)) return false;
  *version = static_cast<uint16_t>(value);
  return true;
}

// Windows' API set schema, read as its loaders read it, every offset
// checked against the schema's size first.
#include "loader/api_sets.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "loader/formats.h"

namespace {

// The schema's bytes, little-endian, and a check that a stretch lies in
// them.
struct schema_bytes {
  const unsigned char* bytes;
  size_t size;
  bool holds(uint64_t offset, uint64_t length) const { return offset <= size && length <= size - offset; }
  uint32_t at32(uint64_t offset) const {
    if (!holds(offset, 4)) return 0;
    const unsigned char* b = bytes + offset;
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  }
};

char lower(unsigned c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); }

// Whether the UTF-16 string at offset (bytes long) is text (length
// characters), without regard to case.
bool same_text(const schema_bytes& s, uint32_t offset, uint32_t bytes, const char* text, size_t length) {
  if (bytes != length * 2 || !s.holds(offset, bytes)) return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned c = s.bytes[offset + 2 * i] | s.bytes[offset + 2 * i + 1] << 8;
    if (c >= 0x80 || lower(c) != lower(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// The DLL a value names, as ASCII text: an empty value (or one that is not
// ASCII) is no DLL.
api_set_answer target_of(const schema_bytes& s, uint32_t offset, uint32_t bytes, char* target, size_t cap) {
  if (offset == 0 || bytes == 0 || bytes / 2 >= cap || !s.holds(offset, bytes)) return api_set_empty;
  for (uint32_t i = 0; i < bytes / 2; ++i) {
    const unsigned c = s.bytes[offset + 2 * i] | s.bytes[offset + 2 * i + 1] << 8;
    if (c == 0 || c >= 0x80) return api_set_empty;
    target[i] = static_cast<char>(c);
  }
  target[bytes / 2] = '\0';
  return api_set_mapped;
}

// A set's values: the one for the importing DLL where there is one, else
// the first. Each value: where its host's name and its DLL's name lie
// (offset, length).
struct value_layout {
  uint32_t size, name, name_length, value, value_length;
};

api_set_answer pick_value(const schema_bytes& s, uint64_t first, uint32_t count, const value_layout& v,
                          const char* host, char* target, size_t cap) {
  if (count == 0) return api_set_empty;
  uint64_t chosen = first;
  for (uint32_t i = count - 1; i > 0 && host && *host; --i) {
    const uint64_t at = first + uint64_t{i} * v.size;
    if (same_text(s, s.at32(at + v.name), s.at32(at + v.name_length), host, strlen(host))) {
      chosen = at;
      break;
    }
  }
  return target_of(s, s.at32(chosen + v.value), s.at32(chosen + v.value_length), target, cap);
}

// Windows 10 and later: sets found by a hash of the name up to its last
// '-' (the version after it does not matter), in lower case.
api_set_answer look_up_v6(const schema_bytes& s, const char* name, const char* host, char* target, size_t cap) {
  const uint32_t count = s.at32(12), entries = s.at32(16), hashes = s.at32(20), factor = s.at32(24);
  size_t hashed = 0;
  for (size_t i = 0; name[i] && name[i] != '.'; ++i)
    if (name[i] == '-') hashed = i;
  uint32_t hash = 0;
  for (size_t i = 0; i < hashed; ++i)
    hash = hash * factor + static_cast<unsigned char>(lower(static_cast<unsigned char>(name[i])));
  int64_t low = 0, high = static_cast<int64_t>(count) - 1;
  while (low <= high) {
    const int64_t middle = (low + high) / 2;
    const uint64_t at = hashes + static_cast<uint64_t>(middle) * 8;
    if (!s.holds(at, 8)) return api_set_not_present;
    if (s.at32(at) < hash) {
      low = middle + 1;
    } else if (s.at32(at) > hash) {
      high = middle - 1;
    } else {
      const uint64_t entry = entries + uint64_t{s.at32(at + 4)} * 24;
      if (!s.holds(entry, 24) || s.at32(entry + 12) != hashed * 2 ||
          !same_text(s, s.at32(entry + 4), static_cast<uint32_t>(hashed * 2), name, hashed))
        return api_set_not_present;
      return pick_value(s, s.at32(entry + 16), s.at32(entry + 20), {20, 4, 8, 12, 16}, host, target, cap);
    }
  }
  return api_set_not_present;
}

// Windows 7, 8 and 8.1: sets named in full, without their "api-" (or, from
// 8 on, "ext-") and their ".dll".
api_set_answer look_up_named(const schema_bytes& s, unsigned version, const char* name, const char* host, char* target,
                             size_t cap) {
  if (version == 2 && !(lower(static_cast<unsigned char>(name[0])) == 'a')) return api_set_not_present;
  const char* bare = name + 4;
  size_t length = strlen(bare);
  if (length > 4 && lower(static_cast<unsigned char>(bare[length - 4])) == '.' &&
      lower(static_cast<unsigned char>(bare[length - 3])) == 'd' &&
      lower(static_cast<unsigned char>(bare[length - 2])) == 'l' &&
      lower(static_cast<unsigned char>(bare[length - 1])) == 'l')
    length -= 4;
  const bool v4 = version == 4;
  const uint32_t count = s.at32(v4 ? 12 : 4);
  const uint64_t entries = v4 ? 16 : 8, entry_size = v4 ? 24 : 12;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = entries + i * entry_size;
    if (!s.holds(entry, entry_size)) return api_set_not_present;
    if (!same_text(s, s.at32(entry + (v4 ? 4 : 0)), s.at32(entry + (v4 ? 8 : 4)), bare, length)) continue;
    const uint64_t values = s.at32(entry + (v4 ? 20 : 8));
    const value_layout layout = v4 ? value_layout{20, 4, 8, 12, 16} : value_layout{16, 0, 4, 8, 12};
    return pick_value(s, values + (v4 ? 8 : 4), s.at32(values + (v4 ? 4 : 0)), layout, host, target, cap);
  }
  return api_set_not_present;
}

}  // namespace

bool may_be_api_set(const char* name) {
  char head[5] = {};
  for (int i = 0; i < 4 && name[i]; ++i) head[i] = lower(static_cast<unsigned char>(name[i]));
  return strlen(name) > 4 && (strcmp(head, "api-") == 0 || strcmp(head, "ext-") == 0);
}

api_set_answer look_up_api_set(const unsigned char* schema, size_t size, const char* name, const char* host,
                               char* target, size_t cap) {
  const schema_bytes s{schema, size};
  if (!schema || !may_be_api_set(name)) return api_set_not_present;
  switch (s.at32(0)) {
    case 6: return look_up_v6(s, name, host, target, cap);
    case 4:
    case 3:
    case 2: return look_up_named(s, s.at32(0), name, host, target, cap);
  }
  return api_set_not_present;
}

unsigned char* read_api_set_schema(const unsigned char* dll, size_t dll_size, size_t* size) {
  const schema_bytes file{dll, dll_size};
  const uint32_t nt = file.at32(e_lfanew);
  if (!file.holds(nt, nt_optional_header) || memcmp(dll + nt, "PE\0\0", 4) != 0) return nullptr;
  const unsigned sections = dll[nt + nt_number_of_sections] | dll[nt + nt_number_of_sections + 1] << 8;
  const unsigned optional = dll[nt + nt_size_of_optional_header] | dll[nt + nt_size_of_optional_header + 1] << 8;
  for (unsigned i = 0; i < sections; ++i) {
    const uint64_t header = uint64_t{nt} + nt_optional_header + optional + i * image_sizeof_section_header;
    if (!file.holds(header, image_sizeof_section_header)) return nullptr;
    if (memcmp(dll + header + section_name, ".apiset", 8) != 0) continue;
    const uint32_t length = file.at32(header + section_size_of_raw_data);
    const uint32_t at = file.at32(header + section_pointer_to_raw_data);
    if (!file.holds(at, length)) return nullptr;
    unsigned char* bytes = static_cast<unsigned char*>(malloc(length + 1));
    if (bytes) memcpy(bytes, dll + at, length);
    *size = length;
    return bytes;
  }
  return nullptr;
}

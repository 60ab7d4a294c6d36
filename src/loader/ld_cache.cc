// glibc's loader cache, read as the loader reads it.
#include "loader/ld_cache.h"

#include <cstdint>
#include <cstring>

namespace {

// The current format: a header of 48 bytes (magic and version, the count
// of entries at 20, flags at 28 whose low bits tell the byte order, the
// offset of an extension directory at 32), then entries of 24 (flags, key,
// value, an unused word, hwcaps), string offsets from the header's start. An older format (entries of 12, strings after
// them) may come first, the current one following it at the next multiple of 8.
const char old_magic[] = "ld.so-1.7.0";
const char new_magic[] = "glibc-ld.so.cache1.1";
enum { old_header = 16, old_entry = 12, new_header = 48, new_entry = 24 };
enum : uint64_t { hwcaps_extension = uint64_t{1} << 62, isa_level_mask = 0x3FF };
const uint32_t extension_magic = 0xEAA42174u;
enum { extension_glibc_hwcaps = 1 };

uint32_t u32(const unsigned char* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

// Library names compared as the loader sorts them: runs of digits as
// numbers.
int compare_names(const char* a, const char* b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (*a) {
    if (digit(*a) && digit(*b)) {
      uint64_t x = 0, y = 0;
      while (digit(*a)) x = x * 10 + static_cast<unsigned>(*a++ - '0');
      while (digit(*b)) y = y * 10 + static_cast<unsigned>(*b++ - '0');
      if (x != y) return x < y ? -1 : 1;
    } else if (digit(*a)) {
      return 1;
    } else if (digit(*b)) {
      return -1;
    } else if (*a != *b) {
      return *a - *b;  // as the loader compares them: plain chars
    } else {
      ++a, ++b;
    }
  }
  return *a - *b;
}

struct cache_table {
  const unsigned char* bytes;
  size_t size;
  const unsigned char* strings;  // where string offsets count from
  size_t strings_size;           // offsets must be below this
  const unsigned char* entries;
  uint32_t count;
  size_t entry_size;
  // The current format's glibc-hwcaps names: string offsets, or null.
  const unsigned char* hwcaps;
  uint32_t hwcaps_count;
};

// The string at an offset, or null when it does not end inside the file.
const char* string_at(const cache_table& table, uint32_t offset) {
  if (offset >= table.strings_size) return nullptr;
  const unsigned char* text = table.strings + offset;
  if (text < table.bytes || text >= table.bytes + table.size) return nullptr;
  return memchr(text, '\0', static_cast<size_t>(table.bytes + table.size - text)) ? reinterpret_cast<const char*>(text)
                                                                                  : nullptr;
}

// How good an entry built for a glibc-hwcaps subfolder is: its subfolder's
// place among those the process searches (1 the best), 0 when it searches
// none such.
uint32_t hwcaps_priority(const cache_table& table, uint64_t hwcap, const char* searched) {
  const uint32_t index = static_cast<uint32_t>(hwcap);
  if (!table.hwcaps || index >= table.hwcaps_count) return 0;
  const char* subfolder = string_at(table, u32(table.hwcaps + 4 * index));
  uint32_t priority = 1;
  for (const char* name = searched; subfolder && *name; name += strlen(name) + 1, ++priority)
    if (strcmp(name, subfolder) == 0) return priority;
  return 0;
}

// The glibc-hwcaps names of the current format's extension directory.
void find_hwcaps(cache_table* table, const unsigned char* header) {
  const uint32_t at = u32(header + 32);
  if (at % 4 != 0 || at > table->size || table->size - at < 8 || u32(table->bytes + at) != extension_magic) return;
  const uint32_t sections = u32(table->bytes + at + 4);
  for (uint32_t i = 0; i < sections && (table->size - at - 8) / 16 > i; ++i) {
    const unsigned char* section = table->bytes + at + 8 + 16 * i;
    const uint32_t offset = u32(section + 8), size = u32(section + 12);
    if (u32(section) != extension_glibc_hwcaps || offset > table->size || size > table->size - offset) continue;
    table->hwcaps = table->bytes + offset;
    table->hwcaps_count = size / 4;
  }
}

// Finds the cache's table, as the loader accepts it.
bool open_table(const unsigned char* bytes, size_t size, cache_table* table) {
  *table = cache_table{bytes, size, nullptr, 0, nullptr, 0, 0, nullptr, 0};
  const unsigned char* header = nullptr;
  if (size > new_header && memcmp(bytes, new_magic, sizeof new_magic - 1) == 0) {
    header = bytes;
  } else if (size > old_header && memcmp(bytes, old_magic, sizeof old_magic - 1) == 0) {
    const uint32_t count = u32(bytes + 12);
    if ((size - old_header) / old_entry < count) return false;
    const size_t after = old_header + size_t{count} * old_entry;
    const size_t next = (after + 7) & ~size_t{7};
    if (next + new_header <= size && memcmp(bytes + next, new_magic, sizeof new_magic - 1) == 0) {
      header = bytes + next;
    } else {
      *table = cache_table{bytes, size, bytes + after, size - after, bytes + old_header, count, old_entry, nullptr, 0};
      return true;
    }
  } else {
    return false;
  }
  const size_t left = size - static_cast<size_t>(header - bytes);
  const uint32_t count = u32(header + 20);
  // The byte order it was written in: unset (older ldconfig) or this one.
  const unsigned order = header[28] & 3;
  if (left <= new_header || (left - new_header) / new_entry < count || order == 1 || order == 3) return false;
  // As the loader does, offsets count from this header and are checked
  // against the whole file's size.
  *table = cache_table{bytes, size, header, size, header + new_header, count, new_entry, nullptr, 0};
  find_hwcaps(table, header);
  return true;
}

bool accepted_flags(int32_t flags, const unsigned* accepted) {
  for (int i = 0; i < 2 && accepted[i]; ++i)
    if (static_cast<unsigned>(flags) == accepted[i]) return true;
  return false;
}

}  // namespace

bool ld_cache_lookup(cache_file cache, const cache_query& query, char* path, size_t cap) {
  const char* const name = query.name;
  cache_table table;
  if (!open_table(cache.bytes, cache.size, &table) || table.count == 0) return false;
  auto entry = [&](int index) { return table.entries + static_cast<size_t>(index) * table.entry_size; };
  // The loader's binary search: entries sorted in descending order; on a
  // match, back to the first entry of that name, then the best of them.
  int left = 0, right = static_cast<int>(table.count > 0x7FFFFFFF ? 0x7FFFFFFF : table.count) - 1;
  const char* best = nullptr;
  uint32_t best_priority = 0;
  while (left <= right) {
    int middle = left + (right - left) / 2;
    const char* key = string_at(table, u32(entry(middle) + 4));
    if (!key) return false;
    const int order = compare_names(name, key);
    if (order == 0) {
      left = middle;
      while (middle > 0) {
        const char* before = string_at(table, u32(entry(middle - 1) + 4));
        if (!before || compare_names(name, before) != 0) break;
        --middle;
      }
      for (; middle <= right; ++middle) {
        const unsigned char* candidate = entry(middle);
        if (middle > left) {
          const char* other = string_at(table, u32(candidate + 4));
          if (!other || compare_names(name, other) != 0) break;
        }
        const char* value = string_at(table, u32(candidate + 8));
        if (!accepted_flags(static_cast<int32_t>(u32(candidate)), query.flags) || !value) continue;
        bool named = false;
        if (table.entry_size == new_entry) {
          const uint64_t hwcap = uint64_t{u32(candidate + 16)} | uint64_t{u32(candidate + 20)} << 32;
          named = ((hwcap >> 32) & ~isa_level_mask) == (hwcaps_extension >> 32);
          // Entries of hwcaps subfolders come first; the first other entry
          // ends the search once one of them was taken.
          if (!named && best) break;
          if (named) {
            const uint32_t priority = hwcaps_priority(table, hwcap, query.hwcaps);
            if (priority == 0 || (best && priority >= best_priority)) continue;
            best_priority = priority;
          } else if (hwcap != 0) {
            continue;  // a legacy hwcaps entry
          }
        }
        best = value;
        if (!named) break;
      }
      break;
    }
    if (order < 0) left = middle + 1;
    else right = middle - 1;
  }
  if (!best || strlen(best) >= cap) return false;
  memcpy(path, best, strlen(best) + 1);
  return true;
}

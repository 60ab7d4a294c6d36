// A library file as the loader model reads it: positioned reads of the
// parts it needs, every offset and size checked against the file's size
// first, so that a hostile file can only be refused. A file already in
// memory reads the same way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Memory kept for reading ahead, grown as needed.
struct read_room {
  unsigned char* bytes;
  size_t size;
};

struct binary_file {
  platform_file file;
  // Set for a file already in memory, or mapped; file is then unused.
  const unsigned char* bytes;
  // The mapping bytes point into, where the file is mapped: a reader that
  // keeps pointers into it takes it over (and clears it here).
  platform_mapping mapping;
  bool mappable;  // an open file, which a reader may map
  uint64_t size;
  bool big_endian;
  // The last pages read of tables and of strings: a table's entries, and
  // names, usually lie side by side, so that few reads fetch them.
  unsigned char window[2][4096];
  uint64_t window_start[2];
  size_t window_length[2];
  // A stretch read ahead in one go, the tables a reader knows it will
  // need, into room kept for the run (reused file after file); null when
  // none.
  const unsigned char* ahead;
  uint64_t ahead_start;
  size_t ahead_length;
  read_room* room;
};

// At least size bytes of the room, grown where it holds fewer (its bytes
// then lost); null where memory runs out.
unsigned char* room_of(read_room* room, size_t size);

// The bytes of a file in memory, as a binary_file.
void memory_file(const unsigned char* bytes, size_t size, binary_file* file);

// Reads a stretch of the file ahead, so that reads within it cost nothing
// more; a stretch that cannot be read is left to the windows.
void read_ahead(binary_file* file, uint64_t offset, uint64_t length);

// Forgets what the file holds read ahead.
void forget_ahead(binary_file* file);

// Reads length bytes at offset: false when any of them lies past the end.
// Small reads come from the window of tables.
bool read_bytes(binary_file* file, uint64_t offset, void* buffer, size_t length);

// How a string read ended.
enum text_end {
  text_whole,     // at its NUL
  text_at_limit,  // at the limit (or the file's end) before a NUL: text holds what was read
  text_over_cap,  // longer than the buffer
  text_unread,    // a read failed
};

// Reads the NUL-terminated string at offset, up to limit, into text (at
// most cap bytes, its NUL included; text always ends in a NUL).
text_end read_text(binary_file* file, uint64_t offset, uint64_t limit, char* text, size_t cap);

// Integers in the file's byte order (read a great many times: inline).
inline uint16_t get16(const binary_file& file, const unsigned char* at) {
  return file.big_endian ? static_cast<uint16_t>(at[0] << 8 | at[1]) : static_cast<uint16_t>(at[1] << 8 | at[0]);
}

inline uint32_t get32(const binary_file& file, const unsigned char* at) {
  const uint32_t high = get16(file, at + (file.big_endian ? 0 : 2));
  const uint32_t low = get16(file, at + (file.big_endian ? 2 : 0));
  return high << 16 | low;
}

inline uint64_t get64(const binary_file& file, const unsigned char* at) {
  const uint64_t high = get32(file, at + (file.big_endian ? 0 : 4));
  const uint64_t low = get32(file, at + (file.big_endian ? 4 : 0));
  return high << 32 | low;
}

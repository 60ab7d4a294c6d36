#include "binary_file.h"

#include <cstring>

void memory_file(const unsigned char* bytes, size_t size, binary_file* file) {
  file->bytes = bytes;
  file->size = size;
  file->big_endian = false;
  file->window_length[0] = file->window_length[1] = 0;
}

enum { tables, strings };

// Fills a window with what the file holds from offset on: false when the
// read fails.
static bool fill_window(binary_file* file, int which, uint64_t offset, uint64_t limit) {
  const uint64_t left = limit - offset;
  file->window_start[which] = offset;
  file->window_length[which] = left < sizeof file->window[which] ? static_cast<size_t>(left) : sizeof file->window[which];
  if (file->bytes) {
    memcpy(file->window[which], file->bytes + offset, file->window_length[which]);
    return true;
  }
  if (platform_read_file(file->file, offset, file->window[which], file->window_length[which])) return true;
  file->window_length[which] = 0;
  return false;
}

static bool in_window(const binary_file& file, int which, uint64_t offset, uint64_t length) {
  return offset >= file.window_start[which] && offset - file.window_start[which] <= file.window_length[which] &&
         length <= file.window_length[which] - (offset - file.window_start[which]);
}

bool read_bytes(binary_file* file, uint64_t offset, void* buffer, size_t length) {
  if (offset > file->size || length > file->size - offset) return false;
  if (file->bytes) {
    memcpy(buffer, file->bytes + offset, length);
    return true;
  }
  if (length > 256) return platform_read_file(file->file, offset, buffer, length);
  if (!in_window(*file, tables, offset, length) && !fill_window(file, tables, offset, file->size)) return false;
  memcpy(buffer, file->window[tables] + (offset - file->window_start[tables]), length);
  return true;
}

bool read_text(binary_file* file, uint64_t offset, uint64_t limit, char* text, size_t cap) {
  if (limit > file->size) limit = file->size;
  if (offset >= limit) return false;
  // From the window when the string starts in it, else from a fresh one
  // at the string: the longest string read is a window.
  for (int attempt = in_window(*file, strings, offset, 1) ? 0 : 1; attempt < 2; ++attempt) {
    if (attempt == 1 && !fill_window(file, strings, offset, limit)) return false;
    const size_t from = static_cast<size_t>(offset - file->window_start[strings]);
    const uint64_t end = limit - file->window_start[strings];
    const size_t available =
        (end < file->window_length[strings] ? static_cast<size_t>(end) : file->window_length[strings]) - from;
    const void* nul = memchr(file->window[strings] + from, '\0', available);
    if (nul) {
      const size_t length =
          static_cast<size_t>(static_cast<const unsigned char*>(nul) - (file->window[strings] + from));
      if (length >= cap) return false;
      memcpy(text, file->window[strings] + from, length + 1);
      return true;
    }
  }
  return false;
}

uint16_t get16(const binary_file& file, const unsigned char* at) {
  return file.big_endian ? static_cast<uint16_t>(at[0] << 8 | at[1])
                         : static_cast<uint16_t>(at[1] << 8 | at[0]);
}

uint32_t get32(const binary_file& file, const unsigned char* at) {
  const uint32_t high = get16(file, at + (file.big_endian ? 0 : 2));
  const uint32_t low = get16(file, at + (file.big_endian ? 2 : 0));
  return high << 16 | low;
}

uint64_t get64(const binary_file& file, const unsigned char* at) {
  const uint64_t high = get32(file, at + (file.big_endian ? 0 : 4));
  const uint64_t low = get32(file, at + (file.big_endian ? 4 : 0));
  return high << 32 | low;
}

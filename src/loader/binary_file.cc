// Positioned reads of a library file, every offset checked first.
#include "loader/binary_file.h"

#include <cstdlib>
#include <cstring>

void memory_file(const unsigned char* bytes, size_t size, binary_file* file) {
  file->bytes = bytes;
  file->mapping = {};
  file->mappable = false;
  file->size = size;
  file->big_endian = false;
  file->window_length[0] = file->window_length[1] = 0;
  file->ahead = nullptr;
  file->ahead_length = 0;
  file->room = nullptr;
}

unsigned char* room_of(read_room* room, size_t size) {
  if (size <= room->size) return room->bytes;
  unsigned char* larger = static_cast<unsigned char*>(realloc(room->bytes, size));
  if (!larger) return nullptr;
  room->bytes = larger;
  room->size = size;
  return larger;
}

void read_ahead(binary_file* file, uint64_t offset, uint64_t length) {
  forget_ahead(file);
  read_room* room = file->room;
  if (file->bytes || !room || offset > file->size) return;
  if (length > file->size - offset) length = file->size - offset;
  if (!room_of(room, static_cast<size_t>(length))) return;
  if (!platform_read_file(file->file, offset, room->bytes, static_cast<size_t>(length))) return;
  file->ahead = room->bytes;
  file->ahead_start = offset;
  file->ahead_length = static_cast<size_t>(length);
}

void forget_ahead(binary_file* file) {
  file->ahead = nullptr;
  file->ahead_length = 0;
}

// Where the stretch read ahead holds offset, the bytes there; else null.
static const unsigned char* ahead_at(const binary_file& file, uint64_t offset, uint64_t length) {
  if (!file.ahead || offset < file.ahead_start || offset - file.ahead_start > file.ahead_length ||
      length > file.ahead_length - (offset - file.ahead_start))
    return nullptr;
  return file.ahead + (offset - file.ahead_start);
}

enum { tables, strings };

// Pages of the file are read whole, from the one that holds an offset on.
enum : uint64_t { page = 4096 };

// Fills a window with the stretch of the file from the page that holds
// offset: false when the read fails. Tables and strings are mostly read
// forward, and lie together.
static bool fill_window(binary_file* file, int which, uint64_t offset) {
  const uint64_t start = offset - offset % page;
  const uint64_t left = file->size - start;
  file->window_start[which] = start;
  file->window_length[which] =
      left < sizeof file->window[which] ? static_cast<size_t>(left) : sizeof file->window[which];
  if (file->bytes) {
    memcpy(file->window[which], file->bytes + start, file->window_length[which]);
    return true;
  }
  if (platform_read_file(file->file, start, file->window[which], file->window_length[which])) return true;
  file->window_length[which] = 0;
  return false;
}

static bool in_window(const binary_file& file, int which, uint64_t offset, uint64_t length) {
  return offset >= file.window_start[which] && offset - file.window_start[which] <= file.window_length[which] &&
         length <= file.window_length[which] - (offset - file.window_start[which]);
}

bool read_bytes(binary_file* file, uint64_t offset, void* buffer, size_t length) {
  if (offset > file->size || length > file->size - offset) return false;
  // A long stretch of a mapped file is read, not faulted in: what is read
  // once costs no resident memory.
  if (file->bytes && !(file->mapping.bytes && length >= page)) {
    memcpy(buffer, file->bytes + offset, length);
    return true;
  }
  if (file->bytes) return platform_read_file(file->file, offset, buffer, length);
  if (const unsigned char* bytes = ahead_at(*file, offset, length)) {
    memcpy(buffer, bytes, length);
    return true;
  }
  for (int which = tables; which <= strings; ++which) {
    if (!in_window(*file, which, offset, length)) continue;
    memcpy(buffer, file->window[which] + (offset - file->window_start[which]), length);
    return true;
  }
  // What does not fit a window is read as it is.
  if (offset % page + length > sizeof file->window[tables])
    return platform_read_file(file->file, offset, buffer, length);
  if (!fill_window(file, tables, offset)) return false;
  memcpy(buffer, file->window[tables] + (offset - file->window_start[tables]), length);
  return true;
}

text_end read_text(binary_file* file, uint64_t offset, uint64_t limit, char* text, size_t cap) {
  if (limit > file->size) limit = file->size;
  size_t length = 0;
  text[0] = '\0';
  // Window by window from the one that holds the start.
  for (uint64_t at = offset; at < limit;) {
    // From the stretch read ahead where it holds the text, else a window.
    const unsigned char* source = ahead_at(*file, at, 1);
    uint64_t source_start = file->ahead_start, source_length = file->ahead_length;
    if (!source) {
      if (!in_window(*file, strings, at, 1) && !fill_window(file, strings, at)) return text_unread;
      source = file->window[strings] + (at - file->window_start[strings]);
      source_start = file->window_start[strings], source_length = file->window_length[strings];
    }
    const uint64_t end = limit - source_start;
    const size_t available = static_cast<size_t>((end < source_length ? end : source_length) - (at - source_start));
    const unsigned char* start = source;
    const void* nul = memchr(start, '\0', available);
    const size_t piece = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - start) : available;
    if (length + piece >= cap) {
      text[length] = '\0';
      return text_over_cap;
    }
    memcpy(text + length, start, piece);
    length += piece;
    text[length] = '\0';
    if (nul) return text_whole;
    at += piece;
  }
  return text_at_limit;
}

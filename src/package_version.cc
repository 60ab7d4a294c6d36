// A library's version as the system that installed it records it.
#include "package_version.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "loader/verdict.h"
#include "utf8.h"

bool package_text_ok(text_span text) {
  if (text.length == 0 || text.length >= package_text_capacity) return false;
  for (size_t i = 0; i < text.length; ++i)
    if (text.at[i] <= ' ' || text.at[i] > '~') return false;
  return true;
}

namespace {

// --- A package note's JSON ------------------------------------------------

struct json_reader {
  const unsigned char* at;
  const unsigned char* end;
};

enum { json_max_depth = 32 };

void skip_blanks(json_reader* r) {
  while (r->at < r->end && (*r->at == ' ' || *r->at == '\t' || *r->at == '\n' || *r->at == '\r')) ++r->at;
}

bool take(json_reader* r, unsigned char c) {
  skip_blanks(r);
  if (r->at >= r->end || *r->at != c) return false;
  ++r->at;
  return true;
}

int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}

// The character an escape stands for (the byte after the backslash at
// r->at), r moved past it; -1 where it is not one JSON knows.
long read_escape(json_reader* r) {
  static const char plain[] = "\"\\/bfnrt", meant[] = "\"\\/\b\f\n\r\t";
  const unsigned char c = *r->at++;
  if (const char* found = c ? strchr(plain, c) : nullptr) return meant[found - plain];
  if (c != 'u' || r->end - r->at < 4) return -1;
  long code = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_digit(*r->at++);
    if (digit < 0) return -1;
    code = code * 16 + digit;
  }
  return code;
}

// Reads the string at r, decoded into text (cap bytes, always terminated;
// null: skipped) and its whole decoded length into *length; false where it
// is not a valid JSON string. A character beyond ASCII is kept as one byte
// that no version may hold.
bool read_json_string(json_reader* r, char* text, size_t cap, size_t* length) {
  size_t used = 0;
  if (!take(r, '"')) return false;
  for (;;) {
    if (r->at >= r->end || *r->at < 0x20) return false;
    long c = *r->at;
    if (c == '"') break;
    if (c == '\\') {
      ++r->at;
      if (r->at >= r->end || (c = read_escape(r)) < 0) return false;
    } else if (c >= 0x80) {
      unsigned code;
      const size_t taken = decode_utf8(r->at, static_cast<size_t>(r->end - r->at), &code);
      if (taken == 0) return false;
      r->at += taken;
    } else {
      ++r->at;
    }
    if (text && used + 1 < cap) text[used] = c < 0x80 ? static_cast<char>(c) : '\x80';
    ++used;
  }
  ++r->at;
  if (text) text[used < cap ? used : cap - 1] = '\0';
  if (length) *length = used;
  return true;
}

bool skip_digits(json_reader* r) {
  const unsigned char* start = r->at;
  while (r->at < r->end && *r->at >= '0' && *r->at <= '9') ++r->at;
  return r->at > start;
}

bool skip_json_number(json_reader* r) {
  if (r->at < r->end && *r->at == '-') ++r->at;
  if (r->at < r->end && *r->at == '0') ++r->at;
  else if (!skip_digits(r)) return false;
  if (r->at < r->end && *r->at == '.') {
    ++r->at;
    if (!skip_digits(r)) return false;
  }
  if (r->at < r->end && (*r->at == 'e' || *r->at == 'E')) {
    ++r->at;
    if (r->at < r->end && (*r->at == '+' || *r->at == '-')) ++r->at;
    if (!skip_digits(r)) return false;
  }
  return true;
}

bool skip_json_value(json_reader* r, int depth);

// An object or an array, r at its opening bracket.
bool skip_json_container(json_reader* r, int depth) {
  if (depth >= json_max_depth) return false;
  const bool object = *r->at == '{';
  const unsigned char close = object ? '}' : ']';
  ++r->at;
  if (take(r, close)) return true;
  do {
    if (object && (!read_json_string(r, nullptr, 0, nullptr) || !take(r, ':'))) return false;
    if (!skip_json_value(r, depth + 1)) return false;
  } while (take(r, ','));
  return take(r, close);
}

bool skip_word(json_reader* r, const char* word) {
  const size_t length = strlen(word);
  if (static_cast<size_t>(r->end - r->at) < length || memcmp(r->at, word, length) != 0) return false;
  r->at += length;
  return true;
}

bool skip_json_value(json_reader* r, int depth) {
  skip_blanks(r);
  if (r->at >= r->end) return false;
  switch (*r->at) {
    case '"': return read_json_string(r, nullptr, 0, nullptr);
    case '{':
    case '[': return skip_json_container(r, depth);
    case 't': return skip_word(r, "true");
    case 'f': return skip_word(r, "false");
    case 'n': return skip_word(r, "null");
  }
  return skip_json_number(r);
}

// One member of the note's object: "name" and "version" strings are kept,
// each once; anything else is skipped.
bool read_note_member(json_reader* r, package_id* read, size_t lengths[2], bool seen[2]) {
  char key[16];
  size_t key_length = 0;
  if (!read_json_string(r, key, sizeof key, &key_length) || !take(r, ':')) return false;
  const int which = key_length == 4 && strcmp(key, "name") == 0      ? 0
                    : key_length == 7 && strcmp(key, "version") == 0 ? 1
                                                                     : -1;
  if (which < 0) return skip_json_value(r, 1);
  if (seen[which]) return false;
  seen[which] = true;
  skip_blanks(r);
  if (r->at < r->end && *r->at != '"') {
    lengths[which] = 0;
    return skip_json_value(r, 1);
  }
  return read_json_string(r, which ? read->version : read->name, package_text_capacity, &lengths[which]);
}

}  // namespace

bool read_note_json(text_span json, package_id* id) {
  json_reader r = {reinterpret_cast<const unsigned char*>(json.at),
                   reinterpret_cast<const unsigned char*>(json.at) + json.length};
  package_id read{};
  size_t lengths[2] = {0, 0};
  bool seen[2] = {false, false};
  if (!take(&r, '{')) return false;
  if (!take(&r, '}')) {
    do {
      if (!read_note_member(&r, &read, lengths, seen)) return false;
    } while (take(&r, ','));
    if (!take(&r, '}')) return false;
  }
  skip_blanks(&r);
  if (r.at != r.end || !package_text_ok({read.version, lengths[1]})) return false;
  if (seen[0] && !package_text_ok({read.name, lengths[0]})) return false;
  if (!seen[0]) read.name[0] = '\0';
  *id = read;
  return true;
}

// --- ELF notes ---------------------------------------------------------------

namespace {

enum : uint32_t { package_note_type = 0xcafe1a7eu, sht_note = 7, pt_note = 4 };
enum : uint64_t { max_note_bytes = 64 << 10, max_note_places = 4096 };

uint64_t align_up(uint64_t offset, uint64_t align) { return (offset + align - 1) / align * align; }

// The JSON of the first package note among the notes of a section or
// segment, entries aligned to align bytes, up to its NUL.
bool find_package_note(const binary_file& file, const unsigned char* notes, uint64_t length, uint64_t align,
                       text_span* json) {
  for (uint64_t at = 0; at + 12 <= length;) {
    const uint32_t name_size = get32(file, notes + at), desc_size = get32(file, notes + at + 4);
    const uint64_t name_end = align_up(at + 12 + name_size, align);
    if (name_end > length || desc_size > length - name_end) return false;
    if (get32(file, notes + at + 8) == package_note_type && name_size == 4 && memcmp(notes + at + 12, "FDO", 4) == 0) {
      const char* desc = reinterpret_cast<const char*>(notes + name_end);
      const void* nul = memchr(desc, '\0', desc_size);
      *json = {desc, nul ? static_cast<size_t>(static_cast<const char*>(nul) - desc) : desc_size};
      return true;
    }
    at = align_up(name_end + desc_size, align);
  }
  return false;
}

// Where an ELF file lists its note sections, or its note segments where it
// has no section headers.
struct note_places {
  bool wide, sections;
  uint64_t table;
  uint32_t entry_size, count;
};

bool read_note_places(binary_file* file, note_places* places) {
  unsigned char header[64] = {};
  if (!read_bytes(file, 0, header, file->size < 64 ? 52 : 64) || header[0] != 0x7f ||
      memcmp(header + 1, "ELF", 3) != 0 || (header[4] != 1 && header[4] != 2) || (header[5] != 1 && header[5] != 2))
    return false;
  file->big_endian = header[5] == 2;
  const bool wide = header[4] == 2;
  const binary_file& f = *file;
  const uint64_t sections = wide ? get64(f, header + 40) : get32(f, header + 32);
  const uint32_t section_count = get16(f, header + (wide ? 60 : 48));
  places->wide = wide;
  places->sections = sections != 0 && section_count != 0;
  places->table = places->sections ? sections : wide ? get64(f, header + 32) : get32(f, header + 28);
  places->entry_size = get16(f, header + (places->sections ? (wide ? 58 : 46) : (wide ? 54 : 42)));
  places->count = places->sections ? section_count : get16(f, header + (wide ? 56 : 44));
  return places->entry_size >= (places->sections ? (wide ? 64 : 40) : (wide ? 56 : 32)) &&
         places->count <= max_note_places;
}

// The offset, size and alignment of the notes of entry i, where it holds
// notes of at most 64 KiB.
bool note_place(binary_file* file, const note_places& places, uint32_t i, uint64_t place[3]) {
  unsigned char entry[64];
  const bool wide = places.wide;
  const size_t size = places.sections ? (wide ? 64 : 40) : (wide ? 56 : 32);
  if (!read_bytes(file, places.table + uint64_t{i} * places.entry_size, entry, size)) return false;
  const binary_file& f = *file;
  if (places.sections) {
    if (get32(f, entry + 4) != sht_note) return false;
    place[0] = wide ? get64(f, entry + 24) : get32(f, entry + 16);
    place[1] = wide ? get64(f, entry + 32) : get32(f, entry + 20);
    place[2] = wide ? get64(f, entry + 48) : get32(f, entry + 32);
  } else {
    if (get32(f, entry) != pt_note) return false;
    place[0] = wide ? get64(f, entry + 8) : get32(f, entry + 4);
    place[1] = wide ? get64(f, entry + 32) : get32(f, entry + 16);
    place[2] = wide ? get64(f, entry + 48) : get32(f, entry + 28);
  }
  place[2] = place[2] == 8 ? 8 : 4;
  return place[1] <= max_note_bytes;
}

}  // namespace

bool read_package_note(binary_file* file, package_id* id) {
  note_places places;
  if (!read_note_places(file, &places)) return false;
  unsigned char* notes = static_cast<unsigned char*>(malloc(max_note_bytes));
  bool found = false;
  for (uint32_t i = 0; notes && i < places.count && !found; ++i) {
    uint64_t place[3];
    text_span json;
    found = note_place(file, places, i, place) && read_bytes(file, place[0], notes, static_cast<size_t>(place[1])) &&
            find_package_note(*file, notes, place[1], place[2], &json) && read_note_json(json, id);
  }
  free(notes);
  return found;
}

// --- Mach-O -------------------------------------------------------------------

namespace {

enum : uint32_t { lc_id_dylib = 0xd, max_load_commands = 4096, max_slices = 64 };

uint32_t macho_cpu(library_arch arch) {
  switch (arch) {
    case arch_x86: return 7;
    case arch_x64: return 0x01000007;
    case arch_arm: return 12;
    case arch_arm64: return 0x0100000c;
    case arch_other: break;
  }
  return 0;
}

// The current version of the thin image at offset.
bool thin_dylib_version(binary_file* file, uint64_t offset, package_id* id) {
  unsigned char header[32];
  if (!read_bytes(file, offset, header, sizeof header)) return false;
  for (const bool big : {false, true}) {
    file->big_endian = big;
    const uint32_t magic = get32(*file, header);
    if (magic != 0xFEEDFACE && magic != 0xFEEDFACF) continue;
    if (get32(*file, header + 4) != macho_cpu(program_arch())) return false;
    const uint32_t count = get32(*file, header + 16);
    uint64_t at = offset + (magic == 0xFEEDFACF ? 32 : 28);
    for (uint32_t i = 0; i < count && i < max_load_commands; ++i) {
      unsigned char command[24];
      if (!read_bytes(file, at, command, 8)) return false;
      const uint32_t size = get32(*file, command + 4);
      if (get32(*file, command) == lc_id_dylib) {
        if (size < 24 || !read_bytes(file, at, command, 24)) return false;
        const uint32_t v = get32(*file, command + 16);
        snprintf(id->version, sizeof id->version, "%u.%u.%u", v >> 16, v >> 8 & 0xFF, v & 0xFF);
        id->name[0] = '\0';
        return true;
      }
      if (size < 8) return false;
      at += size;
    }
    return false;
  }
  return false;
}

}  // namespace

bool read_dylib_version(binary_file* file, package_id* id) {
  unsigned char header[8];
  if (!read_bytes(file, 0, header, sizeof header)) return false;
  file->big_endian = true;
  const uint32_t magic = get32(*file, header), slices = get32(*file, header + 4);
  if ((magic != 0xCAFEBABE && magic != 0xCAFEBABF) || slices == 0 || slices > max_slices)
    return thin_dylib_version(file, 0, id);
  const bool wide = magic == 0xCAFEBABF;
  for (uint32_t i = 0; i < slices; ++i) {
    unsigned char slice[32];
    file->big_endian = true;
    if (!read_bytes(file, 8 + i * (wide ? 32 : 20), slice, wide ? 32 : 20)) return false;
    if (get32(*file, slice) != macho_cpu(program_arch())) continue;
    return thin_dylib_version(file, wide ? get64(*file, slice + 8) : get32(*file, slice + 8), id);
  }
  return false;
}

// --- dpkg's database ----------------------------------------------------------

namespace {

bool same_text(text_span a, const char* b) { return a.length == strlen(b) && memcmp(a.at, b, a.length) == 0; }

bool same_span(text_span a, text_span b) { return a.length == b.length && memcmp(a.at, b.at, a.length) == 0; }

// The field name at the start of a line, compared as deb822 compares them
// (case ignored): its value, blanks trimmed.
bool field_value(text_span line, const char* name, text_span* value) {
  const size_t name_length = strlen(name);
  if (line.length <= name_length || line.at[name_length] != ':') return false;
  for (size_t i = 0; i < name_length; ++i)
    if ((line.at[i] | 0x20) != (name[i] | 0x20)) return false;
  size_t start = name_length + 1, end = line.length;
  while (start < end && (line.at[start] == ' ' || line.at[start] == '\t')) ++start;
  while (end > start && (line.at[end - 1] == ' ' || line.at[end - 1] == '\t' || line.at[end - 1] == '\r')) --end;
  *value = {line.at + start, end - start};
  return true;
}

// Status is "want flag state": the states past unpacking leave the files
// as the list names them.
bool state_installs_files(text_span status) {
  size_t start = status.length;
  while (start > 0 && status.at[start - 1] != ' ') --start;
  const text_span state = {status.at + start, status.length - start};
  for (const char* installed : {"unpacked", "half-configured", "triggers-awaited", "triggers-pending", "installed"})
    if (same_text(state, installed)) return true;
  return false;
}

void keep_field(text_span value, char* field) {
  const size_t kept = value.length < package_text_capacity ? value.length : 0;
  memcpy(field, value.at, kept);
  field[kept] = '\0';
}

}  // namespace

bool read_stanza_line(text_span line, dpkg_stanza* stanza) {
  text_span value;
  if (line.length == 0) return false;
  if (field_value(line, "Package", &value)) keep_field(value, stanza->package);
  else if (field_value(line, "Architecture", &value)) keep_field(value, stanza->architecture);
  else if (field_value(line, "Version", &value)) keep_field(value, stanza->version);
  else if (field_value(line, "Multi-Arch", &value)) stanza->multi_arch_same = same_text(value, "same");
  else if (field_value(line, "Status", &value)) stanza->files_installed = state_installs_files(value);
  return true;
}

bool open_lines(const char* path, char* window, size_t capacity, line_reader* reader) {
  *reader = line_reader{};
  reader->window = window;
  reader->capacity = capacity;
  return window && platform_open_file(path, &reader->file) == file_opened;
}

bool next_line(line_reader* r, text_span* line) {
  for (;;) {
    const char* at = r->window + r->start;
    if (const void* newline = memchr(at, '\n', r->end - r->start)) {
      const size_t length = static_cast<size_t>(static_cast<const char*>(newline) - at);
      r->start += length + 1;
      if (!r->skipping) {
        *line = {at, length};
        return true;
      }
      r->skipping = false;
      continue;
    }
    if (r->next >= r->file.size) return false;
    // A window without a newline is a line too long to keep.
    r->skipping = r->skipping || (r->start == 0 && r->end == r->capacity);
    if (r->skipping) r->end = r->start;
    memmove(r->window, at, r->end - r->start);
    r->end -= r->start;
    r->start = 0;
    const uint64_t left = r->file.size - r->next;
    const size_t wanted = left < r->capacity - r->end ? static_cast<size_t>(left) : r->capacity - r->end;
    if (!platform_read_file(r->file, r->next, r->window + r->end, wanted)) return false;
    r->next += wanted;
    r->end += wanted;
  }
}

void close_lines(line_reader* reader) { platform_close_file(reader->file); }

namespace {

// The whole line at *at of text, *at moved past it.
bool next_text_line(text_span text, size_t* at, text_span* line) {
  const void* newline = *at < text.length ? memchr(text.at + *at, '\n', text.length - *at) : nullptr;
  if (!newline) return false;
  const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - text.at);
  *line = {text.at + *at, end - *at};
  *at = end + 1;
  return true;
}

}  // namespace

bool find_diversion(text_span diversions, text_span path, dpkg_diversion* found) {
  size_t at = 0;
  while (next_text_line(diversions, &at, &found->from) && next_text_line(diversions, &at, &found->to) &&
         next_text_line(diversions, &at, &found->by))
    if (same_span(found->from, path) || same_span(found->to, path)) return true;
  return false;
}

bool usr_merge_alias(const char* path, char* alias, size_t cap) {
  const bool in_usr = strncmp(path, "/usr/", 5) == 0;
  const char* rest = in_usr ? path + 4 : path;
  for (const char* folder : {"/bin/", "/sbin/", "/lib/", "/lib32/", "/lib64/", "/libx32/", "/libo32/"}) {
    if (strncmp(rest, folder, strlen(folder)) != 0) continue;
    const int written = snprintf(alias, cap, "%s%s", in_usr ? "" : "/usr", rest);
    return written > 0 && static_cast<size_t>(written) < cap;
  }
  return false;
}

uint64_t path_hash(const char* path, size_t length) {
  const uint64_t multiplier = 0x9E3779B97F4A7C15u;
  uint64_t hash = length * multiplier;
  for (size_t at = 0; at < length; at += 8) {
    uint64_t word = 0;
    memcpy(&word, path + at, length - at < 8 ? length - at : 8);
    hash = (hash ^ word) * multiplier;
    hash ^= hash >> 32;
  }
  hash ^= hash >> 29;
  hash *= 0xBF58476D1CE4E5B9u;
  return hash ^ hash >> 32;
}

namespace {

// Past these a database is not read further: real ones are far smaller (on
// this project's machine 1,100 lists of 10 MB in all, the longest 5 MB,
// naming 3,000 shared objects, at most 300 in one list).
enum : size_t {
  window_size = 32 << 10,
  diversions_limit = 1 << 20,
  status_limit = 32 << 20,
  list_limit = 16 << 20,
  lists_limit = 256 << 20,
};
enum : uint32_t {
  max_packages = 1 << 15,
  max_list_paths = 1 << 14,
  max_paths = 1 << 18,
  max_texts = 16 << 20,
  first_buckets = 1 << 12,
};

const char* text_at(const package_memory& memory, uint32_t offset) { return memory.texts + offset; }

// The list of a package: dpkg names it after the architecture too where
// the package may be installed for several at once.
bool list_file(const package_memory& memory, const dpkg_package& package, char* path, size_t cap) {
  const int written = package.multi_arch_same
                          ? snprintf(path, cap, "%s/info/%s:%s.list", memory.admin_folder,
                                     text_at(memory, package.name), text_at(memory, package.architecture))
                          : snprintf(path, cap, "%s/info/%s.list", memory.admin_folder, text_at(memory, package.name));
  return written > 0 && static_cast<size_t>(written) < cap;
}

// Grows an array of count entries to hold one more, up to limit.
template <typename entry>
bool grow(entry** array, uint32_t count, uint32_t* size, uint32_t first, uint32_t limit) {
  if (count < *size) return true;
  if (*size >= limit) return false;
  const uint32_t larger = *size ? (*size * 2 < limit ? *size * 2 : limit) : first;
  entry* grown = static_cast<entry*>(realloc(*array, size_t{larger} * sizeof(entry)));
  if (!grown) return false;
  *array = grown;
  *size = larger;
  return true;
}

uint32_t keep_text(package_memory& memory, const char* text) {
  const uint32_t length = static_cast<uint32_t>(strlen(text)) + 1;
  const uint32_t at = memory.texts_used;
  while (at + length > memory.texts_size)
    if (!grow(&memory.texts, memory.texts_size, &memory.texts_size, 64 << 10, max_texts)) return UINT32_MAX;
  memcpy(memory.texts + at, text, length);
  memory.texts_used += length;
  return at;
}

void rehash_paths(package_memory& memory) {
  const uint32_t count = memory.bucket_count * 2;
  uint32_t* buckets = static_cast<uint32_t*>(calloc(count, sizeof *buckets));
  if (!buckets) return;
  for (uint32_t i = 0; i < memory.path_count; ++i) {
    listed_path& entry = memory.paths[i];
    entry.next = buckets[entry.hash & (count - 1)];
    buckets[entry.hash & (count - 1)] = i + 1;
  }
  free(memory.buckets);
  memory.buckets = buckets;
  memory.bucket_count = count;
}

bool add_listed_path(package_memory& memory, text_span path, uint32_t package) {
  if (!grow(&memory.paths, memory.path_count, &memory.path_size, 4096, max_paths)) return false;
  if (memory.path_count >= memory.bucket_count * 2) rehash_paths(memory);
  const uint64_t hash = path_hash(path.at, path.length);
  uint32_t& bucket = memory.buckets[hash & (memory.bucket_count - 1)];
  memory.paths[memory.path_count] = {hash, package, bucket};
  bucket = ++memory.path_count;
  return true;
}

// Whether a path names a shared object: its file name holds ".so".
bool names_shared_object(text_span path) {
  for (size_t end = path.length; end >= 3 && path.at[end - 1] != '/'; --end)
    if (path.at[end - 1] == 'o' && path.at[end - 2] == 's' && path.at[end - 3] == '.') return true;
  return false;
}

// Indexes the shared objects of a package's list as far as a list's
// limits; false when the index is full.
bool index_list(package_memory& memory, uint32_t package) {
  char path[4200];
  line_reader lines;
  if (!list_file(memory, memory.packages[package], path, sizeof path) ||
      !open_lines(path, memory.window, window_size, &lines))
    return true;
  bool room = true;
  text_span line;
  for (uint32_t kept = 0; room && kept < max_list_paths && lines.next <= list_limit && next_line(&lines, &line);) {
    if (!names_shared_object(line)) continue;
    room = add_listed_path(memory, line, package);
    ++kept;
  }
  close_lines(&lines);
  memory.lists_read += lines.next;
  return room && memory.lists_read <= lists_limit;
}

// Keeps a package whose files are on disk and indexes its list; false when
// nothing more can be kept. A package for all architectures holds no
// shared object (Debian's policy), so its list is not read.
bool add_dpkg_package(package_memory& memory, const dpkg_stanza& stanza) {
  if (!stanza.files_installed || !stanza.version[0] || !package_text_ok({stanza.package, strlen(stanza.package)}) ||
      strchr(stanza.package, '/') || strchr(stanza.architecture, '/') || strcmp(stanza.architecture, "all") == 0)
    return true;
  if (!grow(&memory.packages, memory.package_count, &memory.package_size, 1024, max_packages)) return false;
  const dpkg_package package = {keep_text(memory, stanza.package), keep_text(memory, stanza.architecture),
                                keep_text(memory, stanza.version), stanza.multi_arch_same};
  if (package.name == UINT32_MAX || package.architecture == UINT32_MAX || package.version == UINT32_MAX) return false;
  memory.packages[memory.package_count] = package;
  return index_list(memory, memory.package_count++);
}

// Reads the diversions whole; false where they exist but cannot be read,
// which leaves every path unknown, since any might be diverted.
bool read_diversions(package_memory& memory) {
  char path[4200];
  snprintf(path, sizeof path, "%s/diversions", memory.admin_folder);
  platform_file file;
  const int opened = platform_open_file(path, &file);
  if (opened == file_missing) return true;
  if (opened != file_opened) return false;
  memory.diversions = file.size <= diversions_limit ? static_cast<char*>(malloc(file.size + 1)) : nullptr;
  memory.diversions_size = static_cast<size_t>(file.size);
  const bool read = memory.diversions && platform_read_file(file, 0, memory.diversions, memory.diversions_size);
  platform_close_file(file);
  return read;
}

// Reads dpkg's status, its diversions and the lists of the packages whose
// files are on disk, once a run.
void read_dpkg(package_memory& memory) {
  memory.dpkg_read = true;
  const size_t length = platform_read_environment("DPKG_ADMINDIR", memory.admin_folder, sizeof memory.admin_folder);
  if (length >= sizeof memory.admin_folder - 64) return;
  if (length == 0) snprintf(memory.admin_folder, sizeof memory.admin_folder, "%s", "/var/lib/dpkg");
  memory.window = static_cast<char*>(malloc(window_size));
  memory.buckets = static_cast<uint32_t*>(calloc(first_buckets, sizeof *memory.buckets));
  memory.bucket_count = first_buckets;
  char path[4200];
  snprintf(path, sizeof path, "%s/status", memory.admin_folder);
  char* const window = static_cast<char*>(malloc(window_size));
  line_reader status;
  if (!memory.buckets || !read_diversions(memory) || !open_lines(path, window, window_size, &status)) {
    free(memory.buckets);
    memory.buckets = nullptr;
    free(window);
    return;
  }
  dpkg_stanza stanza{};
  bool room = true;
  for (text_span line; room && status.next <= status_limit && next_line(&status, &line);) {
    if (read_stanza_line(line, &stanza)) continue;
    room = add_dpkg_package(memory, stanza);
    stanza = dpkg_stanza{};
  }
  if (room) add_dpkg_package(memory, stanza);
  close_lines(&status);
  free(window);
}

enum { max_owners = 16 };

// Whether a package's list names path, read again.
bool package_lists(package_memory& memory, uint32_t package, text_span path) {
  char list[4200];
  line_reader lines;
  if (!list_file(memory, memory.packages[package], list, sizeof list) ||
      !open_lines(list, memory.window, window_size, &lines))
    return false;
  bool found = false;
  for (text_span line; !found && next_line(&lines, &line);) found = same_span(line, path);
  close_lines(&lines);
  return found;
}

// The packages whose lists name path; false where more than max_owners do.
bool dpkg_owners(package_memory& memory, text_span path, uint32_t* owners, size_t* count) {
  *count = 0;
  if (!memory.buckets) return true;
  const uint64_t hash = path_hash(path.at, path.length);
  for (uint32_t i = memory.buckets[hash & (memory.bucket_count - 1)]; i; i = memory.paths[i - 1].next) {
    const listed_path entry = memory.paths[i - 1];
    bool passed = entry.hash != hash;
    for (size_t k = 0; k < *count && !passed; ++k) passed = owners[k] == entry.package;
    if (passed || !package_lists(memory, entry.package, path)) continue;
    if (*count == max_owners) return false;
    owners[(*count)++] = entry.package;
  }
  return true;
}

// The package that put the file at path there. A file at a diversion's
// target was shipped at its source by a package other than the diverting
// one; a file at a diverted source is the diverting package's own.
bool dpkg_package_of(package_memory& memory, const char* path, package_id* id) {
  const text_span at = {path, strlen(path)};
  dpkg_diversion diversion;
  const bool diverted = find_diversion({memory.diversions, memory.diversions_size}, at, &diversion);
  const bool at_target = diverted && same_span(diversion.to, at);
  uint32_t owners[max_owners];
  size_t count;
  if (!dpkg_owners(memory, at_target ? diversion.from : at, owners, &count)) return false;
  const dpkg_package* found = nullptr;
  for (size_t i = 0; i < count; ++i) {
    const dpkg_package& package = memory.packages[owners[i]];
    const text_span name = {text_at(memory, package.name), strlen(text_at(memory, package.name))};
    if (diverted && same_span(name, diversion.by) == at_target) continue;
    // Copies of a package for several architectures agree; others do not.
    if (found && (strcmp(text_at(memory, found->name), name.at) != 0 ||
                  strcmp(text_at(memory, found->version), text_at(memory, package.version)) != 0))
      return false;
    found = &package;
  }
  const char* version = found ? text_at(memory, found->version) : "";
  if (!found || !package_text_ok({version, strlen(version)})) return false;
  snprintf(id->name, sizeof id->name, "%s", text_at(memory, found->name));
  snprintf(id->version, sizeof id->version, "%s", version);
  return true;
}

bool dpkg_lookup(package_memory& memory, const char* path, package_id* id) {
  if (!memory.dpkg_read) read_dpkg(memory);
  return dpkg_package_of(memory, path, id);
}

bool rpm_lookup(package_memory& memory, const char* path, package_id* id) {
  if (!memory.rpm_tried) {
    memory.rpm_tried = true;
    memory.rpm = platform_open_rpm();
  }
  return memory.rpm && platform_rpm_owner(memory.rpm, path, id->name, id->version, sizeof id->version) &&
         package_text_ok({id->name, strlen(id->name)}) && package_text_ok({id->version, strlen(id->version)});
}

bool same_file(const char* a, const char* b) {
  platform_file first, second;
  if (platform_open_file(a, &first) != file_opened) return false;
  const bool opened = platform_open_file(b, &second) == file_opened;
  const bool same = opened && first.identity[0] == second.identity[0] && first.identity[1] == second.identity[1];
  if (opened) platform_close_file(second);
  platform_close_file(first);
  return same;
}

// The first of the paths a database knows, each also on the other side of
// a merged /usr where that is the same file.
bool lookup_paths(package_memory& memory, const char* const paths[3],
                  bool (*lookup)(package_memory&, const char*, package_id*), package_id* id) {
  for (int i = 0; i < 3; ++i) {
    char alias[4096];
    if (paths[i] && (lookup(memory, paths[i], id) || (usr_merge_alias(paths[i], alias, sizeof alias) &&
                                                      same_file(paths[i], alias) && lookup(memory, alias, id))))
      return true;
  }
  return false;
}

// Reads the file with reader.
bool read_library(const char* path, bool (*reader)(binary_file*, package_id*), package_id* id) {
  binary_file file;
  if (platform_open_file(path, &file.file) != file_opened) return false;
  file.bytes = nullptr;
  file.mapping = {};
  file.mappable = false;
  file.size = file.file.size;
  file.big_endian = false;
  file.window_length[0] = file.window_length[1] = 0;
  file.ahead = nullptr;
  file.ahead_length = 0;
  file.room = nullptr;
  const bool found = reader(&file, id);
  platform_close_file(file.file);
  return found;
}

}  // namespace

void print_package_version(package_memory& memory, const char* file, const char* value, const line_writer& out) {
  const unsigned sources = platform_version_sources();
  char real[4096];
  const char* paths[3] = {file, value[0] == '/' && strcmp(value, file) != 0 ? value : nullptr, nullptr};
  if (platform_real_path(file, real, sizeof real) && strcmp(real, file) != 0 && (!paths[1] || strcmp(real, value)))
    paths[2] = real;
  package_id id{};
  if (((sources & version_package_note) && read_library(file, read_package_note, &id)) ||
      ((sources & version_dpkg) && lookup_paths(memory, paths, dpkg_lookup, &id)) ||
      ((sources & version_rpm) && lookup_paths(memory, paths, rpm_lookup, &id)) ||
      ((sources & version_dylib) && read_library(file, read_dylib_version, &id)))
    out.package_version(id.version, id.name);
}

void reset_package_memory(package_memory& memory) {
  free(memory.window);
  free(memory.diversions);
  free(memory.texts);
  free(memory.packages);
  free(memory.buckets);
  free(memory.paths);
  if (memory.rpm) platform_close_rpm(memory.rpm);
  memory = package_memory{};
}

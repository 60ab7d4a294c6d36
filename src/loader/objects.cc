// The run's table of library files, their names and symbol versions.
#include "loader/objects.h"

#include <cstdlib>
#include <cstring>

namespace {

// Bounds on what hostile files can make the table hold.
enum : uint32_t { max_objects = 1 << 16, max_versions = 1 << 20, max_index = 1 << 22 };
enum : size_t { pool_limit = size_t{64} << 20 };

// A hash of a key, eight bytes a step.
uint32_t hash_of(const void* key, size_t length) {
  const unsigned char* bytes = static_cast<const unsigned char*>(key);
  uint64_t hash = 0x9E3779B97F4A7C15u ^ length;
  for (; length >= 8; bytes += 8, length -= 8) {
    uint64_t word;
    memcpy(&word, bytes, 8);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 29;
  }
  for (; length > 0; ++bytes, --length) hash = (hash ^ *bytes) * 0x100000001B3u;
  hash ^= hash >> 32;
  return static_cast<uint32_t>(hash);
}

// The slot of a key, or the empty slot where it would go.
index_slot* slot_of(const name_index& index, const object_table& table, uint32_t hash, const void* key, size_t length) {
  for (uint32_t at = hash & (index.capacity - 1);; at = (at + 1) & (index.capacity - 1)) {
    index_slot& slot = index.slots[at];
    if (slot.length == 0) return &slot;
    if (slot.hash == hash && slot.length == length + 1 && memcmp(table.pool + slot.key, key, length) == 0) return &slot;
  }
}

}  // namespace

int32_t* find_in_index(const name_index& index, const object_table& table, const void* key, size_t length) {
  if (index.count == 0) return nullptr;
  index_slot* slot = slot_of(index, table, hash_of(key, length), key, length);
  return slot->length ? &slot->value : nullptr;
}

bool add_to_index(name_index* index, object_table* table, const void* key, size_t length, int32_t value) {
  if ((index->count + 1) * 4 > index->capacity * 3) {
    const uint32_t larger = index->capacity ? index->capacity * 2 : 16;
    if (larger > max_index) return false;
    index_slot* slots = static_cast<index_slot*>(calloc(larger, sizeof(index_slot)));
    if (!slots) return false;
    name_index grown = {slots, larger, index->count};
    for (uint32_t i = 0; i < index->capacity; ++i)
      if (index->slots[i].length)
        *slot_of(grown, *table, index->slots[i].hash, table->pool + index->slots[i].key, index->slots[i].length - 1) =
            index->slots[i];
    free(index->slots);
    *index = grown;
  }
  const uint32_t hash = hash_of(key, length);
  index_slot* slot = slot_of(*index, *table, hash, key, length);
  if (slot->length) return true;  // the first number given stays
  const uint32_t offset = add_name(table, static_cast<const char*>(key), length);
  if (!offset) return false;
  // Added to the pool, which may have moved: the slot is found anew.
  slot = slot_of(*index, *table, hash, key, length);
  *slot = {hash, offset, static_cast<uint32_t>(length + 1), value};
  ++index->count;
  return true;
}

void empty_index(name_index* index) {
  if (index->count) memset(index->slots, 0, index->capacity * sizeof(index_slot));
  index->count = 0;
}

uint32_t add_name(object_table* table, const char* text, size_t length) {
  if (table->pool_used + length + 1 > table->pool_size) {
    if (table->pool_used + length + 1 > pool_limit) return 0;
    size_t larger = table->pool_size ? table->pool_size * 2 : 4096;
    while (larger < table->pool_used + length + 1) larger *= 2;
    char* grown = static_cast<char*>(realloc(table->pool, larger));
    if (!grown) return 0;
    table->pool = grown;
    table->pool_size = larger;
    if (table->pool_used == 0) table->pool[table->pool_used++] = '\0';
  }
  memcpy(table->pool + table->pool_used, text, length);
  table->pool[table->pool_used + length] = '\0';
  const size_t offset = table->pool_used;
  table->pool_used += length + 1;
  return static_cast<uint32_t>(offset);
}

const char* name_at(const object_table& table, uint32_t offset) { return table.pool ? table.pool + offset : ""; }

static void free_symbols(const object_symbols& symbols) {
  free(symbols.block);
  free(symbols.copies);
  platform_unmap_file(symbols.mapping);
}

int32_t add_symbols(object_table* table, const object_symbols& symbols) {
  if (!make_room(&table->symbols, table->symbols_count, &table->symbols_size, max_objects)) {
    free_symbols(symbols);
    return -1;
  }
  table->symbols[table->symbols_count] = symbols;
  return static_cast<int32_t>(table->symbols_count++);
}

bool add_symbol_version(object_table* table, const symbol_version& version) {
  if (!make_room(&table->versions, table->version_count, &table->version_size, max_versions)) return false;
  table->versions[table->version_count++] = version;
  return true;
}

// Opens a file and reads it unless a file of the same identity was read.
static int open_file(object_table* table, const char* path, object_reader read) {
  platform_file file;
  const int opened = platform_open_file(path, &file);
  if (opened != file_opened) return opened;
  if (const int32_t* known = find_in_index(table->by_identity, *table, file.identity, sizeof file.identity)) {
    platform_close_file(file);
    return *known;
  }
  if (!make_room(&table->objects, table->count, &table->size, max_objects) ||
      !add_to_index(&table->by_identity, table, file.identity, sizeof file.identity,
                    static_cast<int32_t>(table->count))) {
    platform_close_file(file);
    return object_limit;
  }
  loaded_object object{};
  object.identity[0] = file.identity[0];
  object.identity[1] = file.identity[1];
  object.arch = arch_other;
  object.symbols = -1;
  object.path = add_name(table, path, strlen(path));
  binary_file reader;
  reader.file = file;
  // Mapped by the reader that reads through a mapping.
  reader.mapping = {};
  reader.mappable = true;
  reader.bytes = nullptr;
  reader.size = file.size;
  reader.big_endian = false;
  reader.window_length[0] = reader.window_length[1] = 0;
  reader.ahead = nullptr;
  reader.ahead_length = 0;
  reader.room = &table->room;
  read(&reader, table, &object);
  forget_ahead(&reader);
  const platform_mapping& mapped = object.symbols >= 0 ? table->symbols[object.symbols].mapping : reader.mapping;
  if (platform_mapping_cut(mapped)) object.state = object_unreadable;
  platform_unmap_file(reader.mapping);  // unless its symbols keep it
  platform_close_file(file);
  table->objects[table->count] = object;
  return static_cast<int>(table->count++);
}

int open_object(object_table* table, const char* path, object_reader read) {
  const size_t length = strlen(path);
  if (const int32_t* known = find_in_index(table->by_path, *table, path, length)) return *known;
  const int result = open_file(table, path, read);
  add_to_index(&table->by_path, table, path, length, result);
  return result;
}

void clear_objects(object_table* table) {
  free(table->by_path.slots);
  free(table->by_identity.slots);
  free(table->room.bytes);
  free(table->scratch.bytes);
  for (uint32_t i = 0; i < table->symbols_count; ++i) free_symbols(table->symbols[i]);
  free(table->symbols);
  free(table->pool);
  free(table->objects);
  free(table->versions);
  *table = object_table{};
}

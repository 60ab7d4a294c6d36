// The run's table of library files, their names and symbol versions.
#include "loader/objects.h"

#include <cstdlib>
#include <cstring>

namespace {

// Bounds on what hostile files can make the table hold.
enum : uint32_t { max_objects = 4096, max_versions = 1 << 20 };
enum : size_t { pool_limit = size_t{64} << 20 };

}  // namespace

uint32_t add_name(object_table* table, const char* text, size_t length) {
  if (table->pool_used + length + 1 > table->pool_size) {
    if (table->pool_used + length + 1 > pool_limit) return 0;
    size_t larger = table->pool_size ? table->pool_size * 2 : 65536;
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

bool add_symbol_version(object_table* table, const symbol_version& version) {
  if (!make_room(&table->versions, table->version_count, &table->version_size, max_versions)) return false;
  table->versions[table->version_count++] = version;
  return true;
}

int open_object(object_table* table, const char* path, object_reader read) {
  platform_file file;
  const int opened = platform_open_file(path, &file);
  if (opened != file_opened) return opened;
  for (uint32_t i = 0; i < table->count; ++i) {
    if (table->objects[i].identity[0] == file.identity[0] && table->objects[i].identity[1] == file.identity[1]) {
      platform_close_file(file);
      return static_cast<int>(i);
    }
  }
  if (!make_room(&table->objects, table->count, &table->size, max_objects)) {
    platform_close_file(file);
    return file_unreadable;
  }
  loaded_object object{};
  object.identity[0] = file.identity[0];
  object.identity[1] = file.identity[1];
  object.arch = arch_other;
  object.path = add_name(table, path, strlen(path));
  binary_file reader;
  reader.file = file;
  reader.bytes = nullptr;
  reader.size = file.size;
  reader.big_endian = false;
  reader.window_length[0] = reader.window_length[1] = 0;
  read(&reader, table, &object);
  platform_close_file(file);
  table->objects[table->count] = object;
  return static_cast<int>(table->count++);
}

void clear_objects(object_table* table) {
  free(table->pool);
  free(table->objects);
  free(table->versions);
  *table = object_table{};
}

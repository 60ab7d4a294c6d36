// The dynamic loader of this process, as far as it decides whether a
// library loads: where it finds the library and, in its own order, every
// library that one needs; whether it takes each file it finds; and, for
// ELF, whether the symbol versions each file requires are defined. Files
// are read once per run, from their headers; nothing is loaded or run.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "loader.h"

namespace {

// Bounds on what hostile files can make the model hold: files read in a
// run, files in one library's load, symbol versions, the pool of names.
enum : uint32_t { max_objects = 4096, max_load = 1024, max_versions = 1 << 20 };
enum : size_t { pool_limit = size_t{64} << 20 };

char* pool;
size_t pool_used, pool_size;
loaded_object* objects;
uint32_t object_count, object_size;
symbol_version* versions;
uint32_t version_count, version_size;

// Grows a heap array so that it holds one more; false at the limit.
template <typename T>
bool make_room(T** array, uint32_t count, uint32_t* size, uint32_t limit) {
  if (count < *size) return true;
  if (count >= limit) return false;
  const uint32_t larger = *size == 0 ? 64 : (*size > limit / 2 ? limit : *size * 2);
  T* grown = static_cast<T*>(realloc(*array, size_t{larger} * sizeof(T)));
  if (!grown) return false;
  *array = grown;
  *size = larger;
  return true;
}

// Opens a file and reads its headers, once per file and run: the object's
// index, or the platform's failure (file_missing, file_denied,
// file_unreadable).
int open_object(const char* path) {
  platform_file file;
  const int opened = platform_open_file(path, &file);
  if (opened != file_opened) return opened;
  for (uint32_t i = 0; i < object_count; ++i) {
    if (objects[i].identity[0] == file.identity[0] && objects[i].identity[1] == file.identity[1]) {
      platform_close_file(file);
      return static_cast<int>(i);
    }
  }
  if (!make_room(&objects, object_count, &object_size, max_objects)) {
    platform_close_file(file);
    return file_unreadable;
  }
  loaded_object object{};
  object.identity[0] = file.identity[0];
  object.identity[1] = file.identity[1];
  object.arch = arch_other;
  object.path = pool_add(path, strlen(path));
  binary_file reader;
  reader.file = file;
  reader.bytes = nullptr;
  reader.size = file.size;
  reader.big_endian = false;
  reader.window_length[0] = reader.window_length[1] = 0;
  platform_loader().read(&reader, &object);
  platform_close_file(file);
  objects[object_count] = object;
  return static_cast<int>(object_count++);
}

// The length of a $NAME or ${NAME} token at the text after a '$', or 0.
size_t token_length(const char* at, size_t left, const char* name) {
  const size_t length = strlen(name);
  const bool braced = left > 0 && at[0] == '{';
  const size_t start = braced ? 1 : 0;
  if (left < start + length || memcmp(at + start, name, length) != 0) return 0;
  if (braced) return left > start + length && at[start + length] == '}' ? length + 2 : 0;
  const unsigned char next = left > length ? static_cast<unsigned char>(at[length]) : 0;
  return isalnum(next) || next == '_' ? 0 : length;
}

// Expands $ORIGIN, $LIB and $PLATFORM as the loader does; false when one
// has no value here, which drops the whole folder.
bool expand_tokens(const char* text, size_t length, const char* origin, char* out, size_t cap) {
  static const char* const names[] = {"ORIGIN", "LIB", "PLATFORM"};
  const char* const values[] = {origin, platform_loader_facts().lib_token, platform_loader_facts().platform_token};
  size_t used = 0;
  for (size_t i = 0; i < length;) {
    size_t taken = 0;
    const char* value = nullptr;
    for (int k = 0; k < 3 && text[i] == '$' && !taken; ++k)
      if ((taken = token_length(text + i + 1, length - i - 1, names[k])) != 0) value = values[k];
    if (taken && !value) return false;
    const char* piece = taken ? value : text + i;
    const size_t piece_length = taken ? strlen(value) : 1;
    if (used + piece_length >= cap) return false;
    memcpy(out + used, piece, piece_length);
    used += piece_length;
    i += taken ? 1 + taken : 1;
  }
  out[used] = '\0';
  return true;
}

// The objects this process has loaded, read on first use: glibc takes a
// name they answer to without searching.
enum { max_process_objects = 256 };
int process_objects[max_process_objects];
int process_object_count = -1;

const char* arch_name(library_arch arch) {
  switch (arch) {
    case arch_x86: return "x86";
    case arch_x64: return "x64";
    case arch_arm64: return "arm64";
    case arch_arm: return "arm";
    case arch_other: break;
  }
  return "other";
}

}  // namespace

load_entry load[max_load];
int load_count;

void copy_text(char* to, const char* from, size_t cap) {
  const size_t length = strnlen(from, cap - 1);
  memcpy(to, from, length);
  to[length] = '\0';
}

search_end try_candidate(search* s, const char* path, bool searching) {
  const int index = open_object(path);
  if (index == file_missing || (index == file_denied && searching)) return search_on;
  if (index == file_unreadable || index == file_denied) {
    s->failure = object_unreadable;
    copy_text(s->found_as, path, sizeof s->found_as);
    return search_failed;
  }
  const loaded_object& object = objects[index];
  if (object.state == object_other_arch && searching) {
    if (!s->passed_over) {
      copy_text(s->other_file, path, sizeof s->other_file);
      s->other_arch = object.arch;
      s->passed_over = true;
    }
    return search_on;
  }
  copy_text(s->found_as, path, sizeof s->found_as);
  s->object = index;
  s->failure = object.state;
  return object.state == object_loadable ? search_found : search_failed;
}

// The folder of a path: "." for a bare name, "/" for the root.
void folder_of(const char* path, char slash, char* folder, size_t cap) {
  const char* last = strrchr(path, slash);
  if (slash == '\\' && strrchr(path, '/') > last) last = strrchr(path, '/');
  const size_t length = !last ? 0 : last == path ? 1 : static_cast<size_t>(last - path);
  copy_text(folder, length ? path : ".", length && length < cap ? length + 1 : 2);
}

// Tries the name in each folder of a list, split at any of separators: in
// each, first in every subfolder the loader tries (null: none), then in
// the folder itself. An empty folder is the current one where
// empty_is_current, else dropped.
search_end try_folders(search* s, const char* list, const char* separators, const char* origin, const char* subfolders,
                       char slash, bool empty_is_current) {
  char folder[path_capacity], candidate[path_capacity];
  for (const char* element = list; element;) {
    const size_t length = strcspn(element, separators);
    const char* next = element[length] ? element + length + 1 : nullptr;
    // Room is left for the separator added below.
    const bool usable =
        length > 0 ? expand_tokens(element, length, origin, folder, sizeof folder - 1) : empty_is_current;
    element = next;
    if (!usable) continue;
    if (length == 0) folder[0] = '\0';
    // Trailing slashes go, but for the root; one separates the name.
    size_t folder_length = strlen(folder);
    while (folder_length > 1 && folder[folder_length - 1] == slash) --folder_length;
    if (folder_length > 0 && folder[folder_length - 1] != slash) folder[folder_length++] = slash;
    folder[folder_length] = '\0';
    for (const char* sub = subfolders && *subfolders ? subfolders : ""; sub;
         sub = *sub ? sub + strlen(sub) + 1 : nullptr) {
      const size_t sub_length = strlen(sub);
      if (folder_length + sub_length + strlen(s->name) >= sizeof candidate) continue;
      memcpy(candidate, folder, folder_length);
      memcpy(candidate + folder_length, sub, sub_length);
      strcpy(candidate + folder_length + sub_length, s->name);
      const search_end end = try_candidate(s, candidate);
      if (end != search_on) return end;
    }
  }
  return search_on;
}

bool same_module(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

const char* base_name(const char* path) {
  const char* base = path;
  for (const char* at = path; *at; ++at)
    if (*at == '/' || *at == '\\') base = at + 1;
  return base;
}

// The object of this load or of the process that answers to a name: on
// ELF the name it was asked for, its path or its SONAME; on Windows its
// file name, in any case. -1 when none does.
int loaded_object_named(const char* name) {
  const bool windows = platform_loader().ignore_case;
  for (int i = 0; i < load_count; ++i) {
    const loaded_object& object = objects[load[i].object];
    const char* requested = pool_text(load[i].requested);
    const char* found = pool_text(load[i].found_as);
    if (windows ? same_module(name, base_name(found)) || same_module(name, base_name(requested))
                : strcmp(name, requested) == 0 || strcmp(name, found) == 0 ||
                      (object.soname && strcmp(name, pool_text(object.soname)) == 0))
      return load[i].object;
  }
  if (process_object_count < 0) {
    process_object_count = 0;
    for (const char* path = platform_loader_facts().loaded; path && *path; path += strlen(path) + 1) {
      const int index = open_object(path);
      if (index >= 0 && process_object_count < max_process_objects) process_objects[process_object_count++] = index;
    }
  }
  for (int i = 0; i < process_object_count && !windows; ++i) {
    const loaded_object& object = objects[process_objects[i]];
    if (strcmp(name, pool_text(object.path)) == 0 || (object.soname && strcmp(name, pool_text(object.soname)) == 0))
      return process_objects[i];
  }
  return -1;
}

void append_name(char* word, size_t cap, const char* name) {
  size_t used = strlen(word);
  for (size_t i = 0; name[i] && i < 255 && used + 1 < cap; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    word[used++] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  word[used] = '\0';
}

namespace {

// The word for a search that did not end with a loadable file: of the
// library itself (name null) or of a library it needs.
void failure_word(const search& s, search_end end, const char* name, library_verdict* verdict) {
  const char* stem = "missing";
  library_arch arch = s.other_arch;
  if (end == search_failed && s.failure == object_unreadable) stem = "unreadable";
  else if (end == search_failed && s.failure == object_not_a_library) stem = "not-a-library";
  else if (end == search_failed || s.passed_over) stem = "mismatch";
  if (end == search_failed && s.failure != object_unreadable) arch = objects[s.object].arch;
  copy_text(verdict->word, stem, sizeof verdict->word);
  if (name) {
    strcat(verdict->word, "-dependency:");
    append_name(verdict->word, sizeof verdict->word, name);
  }
  if (strcmp(stem, "mismatch") == 0) {
    strcat(verdict->word, ":");
    strcat(verdict->word, arch_name(arch));
  }
}

// Finds a name that a library of the load needs, as the loader would: a
// path with its tokens expanded against the folder of the library that
// names it, else by the loader's search.
search_end find_needed(search* s, int entry) {
  const loader_rules& rules = platform_loader();
  if (!rules.is_path(s->name)) return rules.search(s, entry);
  char origin[path_capacity], path[path_capacity];
  folder_of(pool_text(load[entry].found_as), rules.slash, origin, sizeof origin);
  if (!expand_tokens(s->name, strlen(s->name), origin, path, sizeof path)) return search_on;
  return try_candidate(s, path, false);
}

// Maps what the loaded libraries need, breadth first and each in the order
// it names them, as glibc maps them; the first that cannot be had decides.
// Then what the loader checks of the whole.
void walk(library_verdict* verdict) {
  const loader_rules& rules = platform_loader();
  for (int at = 0; at < load_count; ++at) {
    uint32_t offset = objects[load[at].object].needed;
    const uint32_t count = objects[load[at].object].needed_count;
    for (uint32_t k = 0; k < count; ++k) {
      char name[path_capacity];
      copy_text(name, pool_text(offset), sizeof name);
      offset += static_cast<uint32_t>(strlen(name) + 1);
      if (rules.spell) rules.spell(name, sizeof name);
      if ((rules.built_in && rules.built_in(name)) || loaded_object_named(name) >= 0) continue;
      search s{};
      s.name = name;
      const search_end end = find_needed(&s, at);
      if (end != search_found) {
        failure_word(s, end, name, verdict);
        return;
      }
      bool loaded = false;
      for (int i = 0; i < load_count && !loaded; ++i) loaded = load[i].object == s.object;
      // A file already loaded under another name is taken again; past the
      // limit, libraries are not followed.
      if (loaded || load_count == static_cast<int>(max_load)) continue;
      const uint32_t found_as = pool_add(s.found_as, strlen(s.found_as));
      load[load_count++] = {s.object, found_as, pool_add(name, strlen(name)), at};
    }
  }
  if (rules.check_load) rules.check_load(verdict);
}

// What earlier walks of a run said, by the library and its folder.
struct remembered_verdict {
  int object;
  uint32_t folder, word;
};
remembered_verdict* remembered;
uint32_t remembered_count, remembered_size;

}  // namespace

uint32_t pool_add(const char* text, size_t length) {
  if (pool_used + length + 1 > pool_size) {
    if (pool_used + length + 1 > pool_limit) return 0;
    size_t larger = pool_size ? pool_size * 2 : 65536;
    while (larger < pool_used + length + 1) larger *= 2;
    char* grown = static_cast<char*>(realloc(pool, larger));
    if (!grown) return 0;
    pool = grown;
    pool_size = larger;
    if (pool_used == 0) pool[pool_used++] = '\0';
  }
  memcpy(pool + pool_used, text, length);
  pool[pool_used + length] = '\0';
  const size_t offset = pool_used;
  pool_used += length + 1;
  return static_cast<uint32_t>(offset);
}

const char* pool_text(uint32_t offset) { return pool ? pool + offset : ""; }

bool add_symbol_version(const symbol_version& version) {
  if (!make_room(&versions, version_count, &version_size, max_versions)) return false;
  versions[version_count++] = version;
  return true;
}

uint32_t symbol_version_count() { return version_count; }

const symbol_version& symbol_version_at(uint32_t index) { return versions[index]; }

const loaded_object& object_at(int index) { return objects[index]; }

void load_library(const char* name, library_verdict* verdict) {
  const loader_rules& rules = platform_loader();
  load_count = 0;
  search s{};
  char spelled[path_capacity];
  copy_text(spelled, name, sizeof spelled);
  s.name = spelled;
  search_end end;
  if (rules.is_path(name)) {
    end = try_candidate(&s, name, false);
  } else {
    if (rules.spell) rules.spell(spelled, sizeof spelled);
    end = rules.search(&s, -1);
  }
  copy_text(verdict->file, end == search_on ? (s.passed_over ? s.other_file : "") : s.found_as, sizeof verdict->file);
  if (end != search_found) {
    failure_word(s, end, nullptr, verdict);
    return;
  }
  // What the library needs is found alike for every path to the same file
  // from the same folder: each such load is walked once.
  char folder[path_capacity];
  folder_of(s.found_as, rules.slash, folder, sizeof folder);
  for (uint32_t i = 0; i < remembered_count; ++i) {
    if (remembered[i].object != s.object || strcmp(pool_text(remembered[i].folder), folder) != 0) continue;
    copy_text(verdict->word, pool_text(remembered[i].word), sizeof verdict->word);
    return;
  }
  copy_text(verdict->word, "ok", sizeof verdict->word);
  load[0] = {s.object, pool_add(s.found_as, strlen(s.found_as)), pool_add(name, strlen(name)), -1};
  load_count = 1;
  walk(verdict);
  if (make_room(&remembered, remembered_count, &remembered_size, max_objects))
    remembered[remembered_count++] = {s.object, pool_add(folder, strlen(folder)),
                                      pool_add(verdict->word, strlen(verdict->word))};
}

void forget_loaded_libraries() {
  free(pool);
  free(objects);
  free(versions);
  free(remembered);
  pool = nullptr;
  objects = nullptr;
  versions = nullptr;
  remembered = nullptr;
  pool_used = pool_size = 0;
  object_count = object_size = version_count = version_size = remembered_count = remembered_size = 0;
  process_object_count = -1;
  platform_loader().forget();
}

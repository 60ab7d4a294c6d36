// glibc's dynamic loader (ld.so): where it looks for a bare name, in its
// order, and the symbol versions it checks once a library and everything it
// needs are mapped.
#include <cstdlib>
#include <cstring>

#include "loader/elf_file.h"
#include "loader/ld_cache.h"
#include "loader/rules.h"
#include "platform/platform.h"

namespace {

enum : size_t { cache_limit = size_t{32} << 20 };

// The loader's cache, read whole once per run; empty when it is missing or
// too large.
const unsigned char* cache_bytes(glibc_memory* memory, size_t* size) {
  const char* path = platform_loader_facts().cache;
  if (!memory->cache_read && path) {
    memory->cache_read = true;
    platform_file file;
    if (platform_open_file(path, &file) == file_opened) {
      memory->cache_too_large = file.size > cache_limit;
      if (!memory->cache_too_large && (memory->cache = static_cast<unsigned char*>(malloc(file.size + 1))) != nullptr) {
        memory->cache_size = static_cast<size_t>(file.size);
        if (!platform_read_file(file, 0, memory->cache, memory->cache_size)) memory->cache_size = 0;
      }
      platform_close_file(file);
    }
  }
  *size = memory->cache_size;
  return memory->cache;
}

// The names of the glibc-hwcaps subfolders the loader searches, best
// first, as the cache names them.
const char* hwcaps_names(glibc_memory* memory) {
  static const char prefix[] = "glibc-hwcaps/";
  if (!memory->hwcaps_made) {
    memory->hwcaps_made = true;
    size_t used = 0;
    for (const char* sub = platform_loader_facts().subfolders; sub && *sub; sub += strlen(sub) + 1) {
      if (strncmp(sub, prefix, sizeof prefix - 1) != 0 || strlen(sub) < sizeof prefix) continue;
      const size_t length = strlen(sub) - sizeof prefix;  // without the prefix and the '/'
      if (used + length + 2 >= sizeof memory->hwcaps) continue;
      memcpy(memory->hwcaps + used, sub + sizeof prefix - 1, length);
      used += length + 1;
      memory->hwcaps[used - 1] = '\0';
    }
    memory->hwcaps[used] = '\0';
  }
  return memory->hwcaps;
}

// A folder list of a library of the load (its RPATH or RUNPATH, read as
// it was): $ORIGIN is the folder that library was found in. A list the
// loader cannot read ends the process when it searches, and one too long
// to follow is not followed.
search_end try_library_folders(loader_state& state, search* s, int entry, uint32_t folders, folder_list_state read) {
  if (read != list_read) {
    s->blamed = entry;
    s->failure = read == list_unmapped ? object_not_a_library : object_not_followed;
    return search_failed;
  }
  char origin[path_capacity];
  folder_of(name_at(state, state.load[entry].found_as), '/', origin, sizeof origin);
  const folder_list places = {.folders = name_at(state, folders),
                              .separators = ":",
                              .origin = origin,
                              .subfolders = platform_loader_facts().subfolders,
                              .empty_is_current = true};
  return try_folders(state, s, places);
}

// glibc's search for a bare name that the entry needs (-1: the Driver
// Manager's dlopen): the RPATH of the entry and of those that loaded it,
// unless the entry has a RUNPATH; LD_LIBRARY_PATH; the entry's RUNPATH;
// then, unless the entry forbids them, the cache and the default folders.
search_end glibc_search(loader_state& state, search* s, int entry) {
  const loader_facts& f = platform_loader_facts();
  const loaded_object needing = entry >= 0 ? object_at(state, state.load[entry].object) : loaded_object{};
  for (int at = entry; at >= 0 && !needing.has_runpath; at = state.load[at].loader) {
    const loaded_object& object = object_at(state, state.load[at].object);
    const search_end end = object.rpath || object.rpath_state != list_read
                               ? try_library_folders(state, s, at, object.rpath, object.rpath_state)
                               : search_on;
    if (end != search_on) return end;
  }
  if (f.library_path) {
    const folder_list library_path = {.folders = f.library_path,
                                      .separators = ":;",
                                      .origin = f.application_folder,
                                      .subfolders = f.subfolders,
                                      .empty_is_current = true};
    const search_end end = try_folders(state, s, library_path);
    if (end != search_on) return end;
  }
  if (needing.has_runpath) {
    const search_end end = try_library_folders(state, s, entry, needing.runpath, needing.runpath_state);
    if (end != search_on) return end;
  }
  if (needing.no_default_folders) return search_on;
  size_t size;
  char cached[path_capacity];
  const unsigned char* cache = cache_bytes(&state.glibc, &size);
  if (state.glibc.cache_too_large) {
    s->failure = object_not_followed;
    return search_failed;
  }
  const cache_query query = {.name = s->name, .flags = f.cache_flags, .hwcaps = hwcaps_names(&state.glibc)};
  if (cache) add_to_trail(&state, f.cache, strlen(f.cache));
  if (cache && ld_cache_lookup({cache, size}, query, cached, sizeof cached)) {
    const search_end end = try_candidate(state, s, cached);
    if (end != search_on) return end;
  }
  if (!f.default_folders) return search_on;
  const folder_list defaults = {.folders = f.default_folders,
                                .separators = ":",
                                .origin = nullptr,
                                .subfolders = f.subfolders,
                                .empty_is_current = false};
  return try_folders(state, s, defaults);
}

// A name a library needs, its tokens expanded against its folder, as glibc
// reads every name it needs; a token without a value drops the name.
needed_name read_needed(loader_state& state, int entry, char* name, size_t cap) {
  if (!strchr(name, '$')) return name_kept;
  char origin[path_capacity], expanded_name[path_capacity];
  folder_of(name_at(state, state.load[entry].found_as), '/', origin, sizeof origin);
  switch (expand_tokens(name, strlen(name), origin, expanded_name, sizeof expanded_name - 5)) {
    case token_without_value: return name_dropped;
    case expansion_too_long: return name_too_long;
    case expanded: break;
  }
  copy_text(name, expanded_name, cap);
  return name_kept;
}

// An empty name is the program's own, which glibc has loaded first.
bool program_itself(const char* name) { return name[0] == '\0'; }

// Whether a file defines the version a requirement names, as glibc walks
// its definitions: from the first, where a record of a kind it does not
// know ends the check.
enum definition_found { version_defined, version_undefined, version_unreadable };
definition_found find_definition(const loader_state& state, const loaded_object& target, const symbol_version& need) {
  // A file that defines no versions at all satisfies every requirement.
  if (target.definition_count == 0) return version_defined;
  for (uint32_t d = 0; d < target.definition_count; ++d) {
    const symbol_version& definition = state.objects.versions[target.first_definition + d];
    if (definition.unsupported) return version_unreadable;
    if (definition.hash == need.hash && strcmp(name_at(state, definition.name), name_at(state, need.name)) == 0)
      return version_defined;
  }
  return version_undefined;
}

// glibc's check of symbol versions, library by library in load order:
// every version a file requires must be defined by the file it names, a
// file the process has loaded (glibc ends the process where none is);
// weak requirements may be missing.
bool check_versions(loader_state& state, library_verdict* verdict) {
  for (uint32_t at = 0; at < state.load_count; ++at) {
    const loaded_object object = object_at(state, state.load[at].object);
    if (state.load[at].in_process) continue;
    if (object.damaged_versions) return blame_entry(state, static_cast<int>(at), "not-a-library", verdict), false;
    // A file's requirements of one library come together: it is found once.
    uint32_t file = 0;
    int target = -1;
    for (uint32_t k = 0; k < object.need_count; ++k) {
      const symbol_version need = state.objects.versions[object.first_need + k];
      if (need.file != file) {
        file = need.file;
        target = loaded_object_named(state, name_at(state, file));
        if (target < 0) return blame_entry(state, static_cast<int>(at), "not-a-library", verdict), false;
      }
      const definition_found found = find_definition(state, object_at(state, target), need);
      if (found == version_defined || (found == version_undefined && need.weak)) continue;
      state.road_end = static_cast<int>(at);
      copy_text(verdict->word,
                found == version_unreadable ? "not-a-library-dependency:" : "missing-version:", sizeof verdict->word);
      append_name(verdict->word, sizeof verdict->word, name_at(state, need.file));
      if (found == version_undefined) {
        strcat(verdict->word, ":");
        append_name(verdict->word, sizeof verdict->word, name_at(state, need.name));
      }
      return false;
    }
  }
  return true;
}

// The hashes glibc finds a name by: GNU's, and the System V one.
uint32_t gnu_hash_of(const char* name) {
  uint32_t hash = 5381;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(name); *at; ++at) hash = hash * 33 + *at;
  return hash;
}

uint32_t sysv_hash_of(const char* name) {
  uint32_t hash = 0;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(name); *at; ++at) {
    hash = (hash << 4) + *at;
    const uint32_t high = hash & 0xF0000000u;
    if (high) hash ^= high >> 24;
    hash &= ~high;
  }
  return hash;
}

// A name to look up, as glibc looks it up (its SysV hash is made only
// for the few files that have no GNU hash table).
struct wanted {
  const char* name;
  uint32_t gnu;
  // The version the referring file requires (null: none), where it names
  // it and the object found by that name, and whether it asks for a
  // hidden one.
  const char* version;
  uint32_t version_hash;
  const char* version_file;
  int version_object;
  bool hidden;
  // Of a relocation of the procedure linkage table's class; for the
  // Driver Manager's lookup (dlsym), the newest version.
  bool plt, newest;
};

enum lookup_end { looked_on, found, process_ends, tables_unread };

enum : uint16_t { section_undefined = 0, section_absolute = 0xFFF1 };
enum : uint8_t { type_tls = 6 };

// glibc's lookup in one object (do_lookup_x, check_match): the definition
// the name finds there, if any.
lookup_end look_in(loader_state& state, int index, const wanted& w) {
  const loaded_object& object = object_at(state, index);
  if (object.symbols_unread) return tables_unread;
  if (object.symbols < 0) return looked_on;
  const elf_symbols& t = state.objects.symbols[object.symbols].elf;
  if (t.hash == no_hash || t.bucket_count == 0) return looked_on;
  uint32_t chosen = 0, versioned = 0, versions_seen = 0;
  bool matched = false;
  auto check = [&](uint32_t index_of) {
    if (index_of >= t.symbol_count) return;
    const elf_symbol& symbol = t.symbols[index_of];
    const unsigned type = symbol.info & 0xF;
    if ((!symbol.valued && symbol.section != section_absolute && type != type_tls) ||
        (w.plt && symbol.section == section_undefined) || !(type <= 2 || type == 5 || type == 6 || type == 10) ||
        symbol.name >= t.strings_size || strcmp(t.strings + symbol.name, w.name) != 0)
      return;
    const uint16_t* versyms = t.symbol_versions;
    if (w.version && versyms) {
      const uint32_t at = versyms[index_of] & 0x7fff;
      const elf_version none{};
      const elf_version& v = at < t.version_count ? t.versions[at] : none;
      if ((v.hash != w.version_hash || strcmp(name_at(state, v.name), w.version) != 0) &&
          (w.hidden || v.hash || (versyms[index_of] & 0x8000)))
        return;
    } else if (!w.version && versyms && (versyms[index_of] & 0x7fff) >= (w.newest ? 2 : 3)) {
      if (!(versyms[index_of] & 0x8000) && versions_seen++ == 0) versioned = index_of;
      return;
    }
    chosen = index_of, matched = true;
  };
  if (t.hash == gnu_hash) {
    const unsigned bits = sizeof(void*) * 8;
    const uint64_t word = t.bloom[(w.gnu / bits) & (t.bloom_words - 1)];
    // The shift as the processor takes it (glibc's hash is a word wide).
    const uint64_t second = uint64_t{w.gnu} >> (t.bloom_shift & (bits - 1));
    if (((word >> (w.gnu % bits)) & (word >> (second % bits)) & 1) == 0) return looked_on;
    const uint32_t bucket = t.buckets[w.gnu % t.bucket_count];
    for (uint32_t at = bucket; bucket != 0 && !matched; ++at) {
      if (at - t.symbol_offset >= t.chain_count) break;
      const uint32_t chain = t.chains[at - t.symbol_offset];
      if (((chain ^ w.gnu) >> 1) == 0) check(at);
      if (chain & 1) break;
    }
  } else {
    uint32_t steps = 0;
    for (uint32_t at = t.buckets[sysv_hash_of(w.name) % t.bucket_count];
         at != 0 && !matched && steps++ <= t.chain_count; at = at < t.chain_count ? t.chains[at] : 0)
      check(at);
  }
  // A versioned reference to a file that names no versions: glibc's
  // assertion ends the process where that file is the one required.
  if (matched && w.version && !t.symbol_versions && w.version_object == index && index >= 0) return process_ends;
  if (!matched && versions_seen == 1) chosen = versioned, matched = true;
  if (!matched) return looked_on;
  const elf_symbol& symbol = t.symbols[chosen];
  // Hidden and internal symbols, and local ones, are not the lookup's.
  if ((symbol.other & 3) == 1 || (symbol.other & 3) == 2) return looked_on;
  const unsigned binding = symbol.info >> 4;
  return binding == 1 || binding == 2 || binding == 10 ? found : looked_on;
}

// The objects of this process, in the order its loader loaded them: the
// first part of every lookup's scope.
void read_process_objects(loader_state& state) {
  loaded_object_named(state, "");
  for (uint32_t i = 0; i < state.process_object_count; ++i) {
    process_object& process = state.process_objects[i];
    if (process.object >= 0) continue;
    char path[path_capacity];
    copy_text(path, name_at(state, process.path), sizeof path);
    process.object = open_object(&state.objects, path, state.rules->read);
  }
}

// Looks a name up in a scope: the process's objects, then the load's.
lookup_end look_up(loader_state& state, const wanted& w, int* where) {
  for (int part = 0; part < 2; ++part) {
    const uint32_t count = part == 0 ? state.process_object_count : state.load_count;
    for (uint32_t i = 0; i < count; ++i) {
      const int index = part == 0 ? state.process_objects[i].object : state.load[i].object;
      if (index < 0) continue;
      *where = index;
      const lookup_end end = look_in(state, index, w);
      if (end != looked_on) return end;
    }
  }
  return looked_on;
}

// The objects each entry of the load needs, by the names it needs as the
// walk read them (-1 for a name dropped), all entries' in one array: the
// entry's first at first[entry].
struct load_needs {
  int32_t* objects;
  uint32_t* first;
};

bool find_needs(loader_state& state, load_needs* needs) {
  uint32_t total = 0;
  for (uint32_t i = 0; i < state.load_count; ++i) total += object_at(state, state.load[i].object).needed_count;
  needs->objects = static_cast<int32_t*>(malloc(sizeof(int32_t) * (total + 1)));
  needs->first = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (state.load_count + 1)));
  if (!needs->objects || !needs->first) return false;
  uint32_t at = 0;
  for (uint32_t entry = 0; entry < state.load_count; ++entry) {
    needs->first[entry] = at;
    const loaded_object& object = object_at(state, state.load[entry].object);
    uint32_t offset = object.needed;
    for (uint32_t k = 0; k < object.needed_count; ++k) {
      char name[path_capacity];
      const size_t length = strlen(name_at(state, offset));
      copy_text(name, name_at(state, offset), sizeof name);
      offset += static_cast<uint32_t>(length + 1);
      needs->objects[at++] = read_needed(state, static_cast<int>(entry), name, sizeof name) == name_kept
                                 ? loaded_object_named(state, name)
                                 : -1;
    }
  }
  return true;
}

// The order glibc relocates a load in: each library before those that
// need it (the reverse of its depth-first sort, from the last library of
// the breadth-first list to the first).
void relocation_order(loader_state& state, const load_needs& needs, uint32_t* order) {
  const uint32_t count = state.load_count;
  unsigned char* visited = static_cast<unsigned char*>(calloc(count, 1));
  uint32_t* stack = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * 2 * (count + 1)));
  uint32_t placed = count;
  for (uint32_t top = count; visited && stack && top-- > 0;) {
    if (visited[top]) continue;
    // Each frame: the entry, and how many of its needed names are taken.
    uint32_t depth = 0;
    stack[0] = top, stack[1] = 0, visited[top] = 1;
    while (true) {
      uint32_t& entry = stack[2 * depth];
      uint32_t& next = stack[2 * depth + 1];
      const uint32_t need_count = object_at(state, state.load[entry].object).needed_count;
      bool descended = false;
      for (; next < need_count && !descended;) {
        const int found_object = needs.objects[needs.first[entry] + next++];
        if (found_object < 0) continue;
        const loaded_object& dependency = object_at(state, found_object);
        if (dependency.load_mark != state.load_number || visited[dependency.load_entry]) continue;
        visited[dependency.load_entry] = 1;
        ++depth;
        stack[2 * depth] = dependency.load_entry, stack[2 * depth + 1] = 0;
        descended = true;
      }
      if (descended) continue;
      order[--placed] = entry;
      if (depth-- == 0) break;
    }
  }
  free(visited), free(stack);
  // Relocated last to first.
  for (uint32_t i = 0; i < count / 2; ++i) {
    const uint32_t kept = order[i];
    order[i] = order[count - 1 - i], order[count - 1 - i] = kept;
  }
}

// The word for a symbol no object of the scope defines.
void undefined_word(const wanted& w, library_verdict* verdict) {
  copy_text(verdict->word, "undefined-symbol:", sizeof verdict->word);
  append_name(verdict->word, sizeof verdict->word, w.name);
  if (w.version) {
    strcat(verdict->word, "@");
    append_name(verdict->word, sizeof verdict->word, w.version);
  }
}

// The word for a lookup that reached tables quorbel did not read.
void unread_word(loader_state& state, int index, library_verdict* verdict) {
  const loaded_object& object = object_at(state, index);
  if (object.load_mark == state.load_number)
    return blame_entry(state, static_cast<int>(object.load_entry), "not-followed", verdict);
  copy_text(verdict->word, "not-followed-dependency:", sizeof verdict->word);
  append_name(verdict->word, sizeof verdict->word, base_name(name_at(state, object.path)));
}

// Whether an object bound alone in an earlier load binds alone here: the
// names it needs find the same files.
bool binds_as_before(const loader_state& state, const loaded_object& object, const int32_t* needs) {
  return object.bound_alone &&
         memcmp(needs, state.glibc.bound_needs + object.bound_needs, object.needed_count * sizeof(int32_t)) == 0;
}

// Whether a reference finds a definition near the object that makes it:
// in the file its version names, the object itself, what it needs (where
// a linker found it), the process's objects. Whether a lookup succeeds
// does not depend on the order of the scope, which only picks among
// definitions, save where glibc's assertion ends the process or tables
// went unread: then the lookup in glibc's order decides.
bool found_near(loader_state& state, const wanted& w, int index, const int32_t* needs, uint32_t need_count) {
  if (w.version_object >= 0) {
    const lookup_end end = look_in(state, w.version_object, w);
    if (end != looked_on) return end == found;
  }
  if (look_in(state, index, w) == found) return true;
  for (uint32_t k = 0; k < need_count; ++k)
    if (needs[k] >= 0 && look_in(state, needs[k], w) == found) return true;
  for (uint32_t i = 0; i < state.process_object_count; ++i)
    if (state.process_objects[i].object >= 0 && look_in(state, state.process_objects[i].object, w) == found)
      return true;
  return false;
}

// glibc's binding of every symbol a relocation binds, library by library
// in the order it relocates them, each reference in its tables' order,
// each looked up in the process's objects and then in the load. A weak
// reference may find nothing. What was bound alone in an earlier load is
// not bound again.
bool bind_symbols(loader_state& state, library_verdict* verdict) {
  read_process_objects(state);
  bool unread = false;
  for (uint32_t i = 0; i < state.process_object_count; ++i)
    unread = unread ||
             (state.process_objects[i].object >= 0 && object_at(state, state.process_objects[i].object).symbols_unread);
  for (uint32_t i = 0; i < state.load_count; ++i)
    unread = unread || object_at(state, state.load[i].object).symbols_unread;
  uint32_t* order = static_cast<uint32_t*>(malloc(sizeof(uint32_t) * (state.load_count + 1)));
  load_needs all_needs{};
  if (!order || !find_needs(state, &all_needs)) {
    free(order), free(all_needs.objects), free(all_needs.first);
    return blame_entry(state, 0, "not-followed", verdict), false;
  }
  relocation_order(state, all_needs, order);
  bool bound = true;
  for (uint32_t n = 0; n < state.load_count && bound; ++n) {
    const int index = state.load[order[n]].object;
    loaded_object& object = state.objects.objects[index];
    if (state.load[order[n]].in_process) continue;
    if (object.symbols_unread) {
      unread_word(state, index, verdict);
      bound = false;
      break;
    }
    const int32_t* needs = all_needs.objects + all_needs.first[order[n]];
    if (object.symbols < 0 || (!unread && binds_as_before(state, object, needs))) continue;
    bool alone = !unread;
    uint32_t last_file = 0;
    int last_object = -1;
    const elf_symbols& t = state.objects.symbols[object.symbols].elf;
    for (uint32_t r = 0; r < t.reference_count && bound; ++r) {
      const elf_reference& reference = t.references[r];
      if (reference.unknown_type) {
        blame_entry(state, static_cast<int>(order[n]), "not-a-library", verdict);
        bound = false;
        break;
      }
      const elf_symbol& symbol = t.symbols[reference.symbol];
      const char* name = symbol.name < t.strings_size ? t.strings + symbol.name : "";
      wanted w{name, 0, nullptr, 0, nullptr, -1, false, reference.plt, false};
      if (t.symbol_versions) {
        const uint32_t at = t.symbol_versions[reference.symbol] & 0x7fff;
        if (at < t.version_count && t.versions[at].hash) {
          const elf_version& v = t.versions[at];
          w.version = name_at(state, v.name), w.version_hash = v.hash, w.hidden = v.hidden;
          w.version_file = v.file ? name_at(state, v.file) : nullptr;
          if (v.file && v.file != last_file)
            last_file = v.file, last_object = loaded_object_named(state, w.version_file);
          w.version_object = v.file ? last_object : -1;
        }
      }
      // A weak reference binds whatever it finds, unless its version's
      // file ends the process.
      if (!unread && (symbol.info >> 4) == 2 && w.version_object < 0) continue;
      w.gnu = gnu_hash_of(name);
      if (!unread && found_near(state, w, index, needs, object.needed_count)) continue;
      alone = false;
      int where = index;
      const lookup_end end = look_up(state, w, &where);
      if (end == found || (end == looked_on && (symbol.info >> 4) == 2)) continue;
      if (end == tables_unread) unread_word(state, where, verdict);
      else undefined_word(w, verdict);
      // Its road ends at the library that refers to the symbol (or needs
      // the one whose tables went unread).
      if (end != tables_unread || object_at(state, where).load_mark != state.load_number)
        state.road_end = static_cast<int>(order[n]);
      bound = false;
    }
    glibc_memory& memory = state.glibc;
    bool room = bound && alone;
    while (room && memory.bound_needs_count + object.needed_count >= memory.bound_needs_size)
      room = make_room(&memory.bound_needs, memory.bound_needs_size, &memory.bound_needs_size, uint32_t{1} << 24);
    if (room) {
      memcpy(memory.bound_needs + memory.bound_needs_count, needs, object.needed_count * sizeof(int32_t));
      object.bound_needs = memory.bound_needs_count, object.bound_alone = true;
      memory.bound_needs_count += object.needed_count;
    }
  }
  free(order), free(all_needs.objects), free(all_needs.first);
  return bound;
}

// What glibc checks once everything is mapped: the symbol versions, then
// every symbol bound.
bool check_load(loader_state& state, library_verdict* verdict) {
  return check_versions(state, verdict) && bind_symbols(state, verdict);
}

// Whether the Driver Manager's lookup of a name (dlsym, or libltdl's for
// unixODBC) finds a function in the library's load: the first definition
// in the library and then what it needs, unless that is the Driver
// Manager's own, which it takes for none.
bool gives_entry_point(loader_state& state, const char* name, const char* own_library) {
  const wanted w{name, gnu_hash_of(name), nullptr, 0, nullptr, -1, false, true, true};
  const int own = own_library && *own_library ? loaded_object_named(state, own_library) : -1;
  for (uint32_t i = 0; i < state.load_count; ++i)
    if (look_in(state, state.load[i].object, w) == found) return state.load[i].object != own;
  return false;
}

bool has_slash(const char* name) { return strchr(name, '/') != nullptr; }

}  // namespace

const loader_rules glibc_rules = {
    .read = read_elf_object,
    .slash = '/',
    .ignore_case = false,
    .stops_at_unopenable = false,
    .is_path = has_slash,
    .spell = nullptr,
    .read_needed = read_needed,
    .built_in = program_itself,
    .search = glibc_search,
    .check_load = check_load,
    .gives_entry_point = gives_entry_point,
};

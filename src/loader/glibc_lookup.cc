// glibc's lookup of a symbol (dl-lookup.c's do_lookup_x and check_match):
// through an object's hash table to a definition a reference may bind, and
// the Driver Manager's own lookup of an entry point (dlsym).
#include <cstring>

#include "loader/formats.h"
#include "loader/glibc.h"

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

namespace {

// What a lookup in one object has met: the definition it chose, and, for
// an unversioned reference, the one default-versioned definition it may
// take where nothing else matches; or memory past what the file shows,
// where glibc would read on (or die).
struct match {
  uint32_t chosen, versioned, versions_seen;
  elf_symbol symbol, versioned_symbol;  // chosen's, versioned's
  bool matched, lost, read_table;
};

// The types a definition may have: no type, data, a function, a common
// block, thread-local data, an indirect function.
bool bindable_type(unsigned type) {
  return type == stt_notype || type == stt_object || type == stt_func || type == stt_common || type == stt_tls ||
         type == stt_gnu_ifunc;
}

// Whether a version index names the version a reference wants: another
// version is taken only where the reference may take the base of a file
// that names no version of its own.
bool version_matches(const loader_state& state, const elf_symbols& t, const wanted& w, uint16_t version) {
  const uint32_t at = version & versym_index;
  const elf_version none{};
  const elf_version& v = at < t.version_count ? t.versions[at] : none;
  return (v.hash == w.version_hash && strcmp(name_at(state, v.name), w.version) == 0) ||
         (!w.hidden && !v.hash && !(version & versym_hidden));
}

// check_match: whether the symbol at index_of is a definition of the
// name in the version wanted.
void check_match(const loader_state& state, const elf_symbols& t, const wanted& w, uint32_t index_of, match* m) {
  elf_symbol symbol;
  uint16_t version = 0;
  if (!symbol_at(t, index_of, &symbol)) return void(m->lost = true);
  const unsigned type = symbol_type(symbol.info);
  if ((!symbol.valued && symbol.section != shn_abs && type != stt_tls) || (w.plt && symbol.section == shn_undef) ||
      !bindable_type(type) || !name_is(t, symbol.name, w.name))
    return;
  if (!version_index_at(t, index_of, &version)) return void(m->lost = true);
  if (w.version && t.versioned) {
    if (!version_matches(state, t, w, version)) return;
  } else if (!w.version && t.versioned && (version & versym_index) >= (w.newest ? 2 : 3)) {
    // An unversioned reference takes a default version only where it is
    // the one such definition (dlsym: the newest of any).
    if (!(version & versym_hidden) && m->versions_seen++ == 0) m->versioned = index_of, m->versioned_symbol = symbol;
    return;
  }
  m->chosen = index_of, m->symbol = symbol, m->matched = true;
}

// Walks the GNU hash table's chain for the name, after its bloom filter,
// reading the table's words where glibc reads them: from chain_zero, the
// words before the chains for a bucket below symbol_offset, on past a
// chain that has no end.
void walk_gnu_chain(const loader_state& state, const elf_symbols& t, const wanted& w, match* m) {
  const unsigned bits = t.wide ? 64 : 32;
  const int64_t buckets_at = 16 + int64_t{t.bloom_words} * (bits / 8);
  const int64_t chain_zero = buckets_at + int64_t{t.bucket_count} * 4 - int64_t{t.symbol_offset} * 4;
  uint64_t bucket = 0, chain = 0;
  const uint32_t bloom_at = (w.gnu / bits) & (t.bloom_words - 1);
  uint64_t word = 0;
  if (t.bloom) word = t.bloom[bloom_at];
  else if (!view_value(t.hash_table, 16 + int64_t{bloom_at} * (bits / 8), bits / 8, &word)) return void(m->lost = true);
  // glibc shifts the 32-bit hash, which the processor takes modulo 32.
  const uint32_t second = w.gnu >> (t.bloom_shift & 31);
  if (((word >> (w.gnu % bits)) & (word >> (second % bits)) & 1) == 0) return;
  m->read_table = true;
  view_value(t.hash_table, buckets_at + int64_t{w.gnu % t.bucket_count} * 4, 4, &bucket);
  for (uint64_t at = bucket; bucket != 0 && !m->matched && !m->lost; ++at) {
    if (at > UINT32_MAX || !view_value(t.hash_table, chain_zero + static_cast<int64_t>(at) * 4, 4, &chain))
      return void(m->lost = true);
    if (((chain ^ w.gnu) >> 1) == 0) check_match(state, t, w, static_cast<uint32_t>(at), m);
    if (chain & 1) break;
  }
}

void walk_sysv_chain(const loader_state& state, const elf_symbols& t, const wanted& w, match* m) {
  const int64_t chains_at = 8 + int64_t{t.bucket_count} * 4;
  m->read_table = true;
  uint64_t at = 0;
  view_value(t.hash_table, 8 + int64_t{sysv_hash_of(w.name) % t.bucket_count} * 4, 4, &at);
  for (uint32_t steps = 0; at != 0 && !m->matched && !m->lost && steps++ <= t.chain_count;) {
    check_match(state, t, w, static_cast<uint32_t>(at), m);
    if (at >= t.chain_count || !view_value(t.hash_table, chains_at + static_cast<int64_t>(at) * 4, 4, &at)) at = 0;
  }
}

}  // namespace

lookup_end look_in(loader_state& state, int index, const wanted& w, uint32_t* chosen) {
  const loaded_object& object = object_at(state, index);
  if (object.symbols_unread) return lookup_tables_unread;
  if (object.symbols < 0) return lookup_on;
  object_symbols& kept = state.objects.symbols[object.symbols];
  const elf_symbols& t = kept.elf;
  if (t.hash == no_hash || t.bucket_count == 0) return lookup_on;
  match m{};
  if (t.hash == gnu_hash) walk_gnu_chain(state, t, w, &m);
  else walk_sysv_chain(state, t, w, &m);
  if (m.read_table && platform_mapping_cut(kept.mapping)) return lookup_file_cut;
  if (m.lost) return lookup_tables_unread;
  // A versioned reference to a file that names no versions: glibc's
  // assertion ends the process where that file is the one required.
  if (m.matched && w.version && !t.versioned && w.version_object == index && index >= 0) return lookup_process_ends;
  if (!m.matched && m.versions_seen == 1) m.chosen = m.versioned, m.symbol = m.versioned_symbol, m.matched = true;
  if (!m.matched) return lookup_on;
  const elf_symbol& symbol = m.symbol;
  if (chosen) *chosen = m.chosen;
  // Hidden and internal symbols, and local ones, are not the lookup's.
  const unsigned visibility = symbol_visibility(symbol.other);
  if (visibility == stv_hidden || visibility == stv_internal) return lookup_on;
  const unsigned binding = symbol_binding(symbol.info);
  return binding == stb_global || binding == stb_weak || binding == stb_gnu_unique ? lookup_found : lookup_on;
}

void read_process_objects(loader_state& state) {
  loaded_object_named(state, "");
  for (uint32_t i = 0; i < state.process_object_count; ++i) {
    process_object& process = state.process_objects[i];
    if (process.object >= 0) continue;
    char path[path_capacity];
    copy_text(path, name_at(state, process.path), sizeof path);
    process.object = open_object(&state.objects, path, state.traits.read);
  }
}

lookup_end look_up(loader_state& state, const wanted& w, int* where) {
  for (int part = 0; part < 2; ++part) {
    const uint32_t count = part == 0 ? state.process_object_count : state.load_count;
    for (uint32_t i = 0; i < count; ++i) {
      const int index = part == 0 ? state.process_objects[i].object : state.load[i].object;
      if (index < 0) continue;
      *where = index;
      const lookup_end end = look_in(state, index, w);
      if (end != lookup_on) return end;
    }
  }
  return lookup_on;
}

// dlsym, or libltdl's lookup for unixODBC: the first definition in the
// library and then what it needs, undefined symbols with a value taken as
// dlsym takes them. It is no function where it is a Driver Manager's own,
// an absolute symbol (dlsym gives its value unrelocated, NULL for 0) or
// thread-local data.
bool gives_entry_point(loader_state& state, const char* name, const char* own_library) {
  const wanted w{name, gnu_hash_of(name), nullptr, 0, nullptr, -1, false, false, true};
  for (uint32_t i = 0; i < state.load_count; ++i) {
    const int index = state.load[i].object;
    uint32_t chosen = 0;
    if (look_in(state, index, w, &chosen) != lookup_found) continue;
    elf_symbol symbol;
    symbol_at(state.objects.symbols[object_at(state, index).symbols].elf, chosen, &symbol);
    if (symbol.section == shn_abs || symbol_type(symbol.info) == stt_tls) return false;
    for (const char* own = own_library; own && *own; own += strlen(own) + 1)
      if (object_answers_to(state, index, own)) return false;
    return true;
  }
  return false;
}

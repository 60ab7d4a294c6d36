// glibc's lookup of a symbol (dl-lookup.c's check_match and do_lookup_x),
// row by row on tables built in memory, each row through both hash tables;
// and on this process's C library, its tables read where not mapped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes.h"
#include "loader/elf_file.h"
#include "loader/formats.h"
#include "loader/glibc.h"
#include "loader/state.h"
#include "process_libc.h"

namespace {

// A symbol of the table; versym 1 is the global index, unversioned.
struct def {
  const char* name = "f";
  uint8_t type = stt_func, binding = stb_global, visibility = stv_default;
  uint16_t section = 1;
  bool valued = true;
  uint64_t size = 8;
  uint16_t versym = 1;
};

// An ELF64 symbol as the file holds it.
struct raw_symbol {
  uint32_t name;
  uint8_t info, other;
  uint16_t section;
  uint64_t value, size;
};
static_assert(sizeof(raw_symbol) == elf64_sym_size);

// What one object's tables point into; hash: the table as the file holds
// it, laid out from the parts (lay_out).
struct tables {
  std::vector<raw_symbol> symbols{{}};
  std::vector<uint16_t> versyms{0};
  std::vector<elf_version> versions{{}, {}};
  std::vector<uint32_t> buckets{0, 0}, chains, hash;
  std::vector<uint64_t> bloom{0};
  std::string strings{'\0'};
};

// The versions the file defines, from index 2 on; none: it has no versym.
const std::vector<const char*> v234 = {"V2", "V3", "V4"};

image_view view_of(const void* bytes, size_t size) {
  return {static_cast<const unsigned char*>(bytes), 0, 0, size, size};
}

// The hash table as the file holds it, from its parts, into t.
void lay_out(tables& k, elf_symbols& t) {
  const uint32_t chains = static_cast<uint32_t>(k.chains.size());
  k.hash = t.hash == gnu_hash ? std::vector<uint32_t>{2, 1, 1, t.bloom_shift} : std::vector<uint32_t>{2, chains};
  if (t.hash == gnu_hash) k.hash.insert(k.hash.end(), {uint32_t(k.bloom[0]), uint32_t(k.bloom[0] >> 32)});
  k.hash.insert(k.hash.end(), k.buckets.begin(), k.buckets.end());
  k.hash.insert(k.hash.end(), k.chains.begin(), k.chains.end());
  t.hash_table = view_of(k.hash.data(), k.hash.size() * 4), t.chain_count = chains, t.bloom = k.bloom.data();
}

// An object defining defs, and other names that share the hash buckets.
int add_object(loader_state& state, tables& k, std::vector<def> defs, const std::vector<const char*>& versions,
               hash_kind hash) {
  defs.insert(defs.begin(), {{.name = "g"}, {.name = "h"}, {.name = "SQLConnect"}});
  std::stable_sort(defs.begin(), defs.end(),
                   [](const def& a, const def& b) { return gnu_hash_of(a.name) % 2 < gnu_hash_of(b.name) % 2; });
  for (const char* name : versions)
    k.versions.push_back({add_name(&state.objects, name, strlen(name)), sysv_hash_of(name), 0, false});
  if (hash == sysv_hash) k.chains.push_back(0);  // SysV chains symbol 0 too
  for (const def& d : defs) {
    const uint32_t at = static_cast<uint32_t>(k.symbols.size()), h = gnu_hash_of(d.name), s = sysv_hash_of(d.name);
    k.symbols.push_back({static_cast<uint32_t>(k.strings.size()), static_cast<uint8_t>(d.binding << 4 | d.type),
                         d.visibility, d.section, d.valued, d.size});
    k.strings.append(d.name).push_back('\0');
    k.versyms.push_back(d.versym);
    k.bloom[0] |= uint64_t{1} << (h % 64) | uint64_t{1} << ((h >> 5) % 64);
    if (hash == sysv_hash) {
      k.chains.push_back(k.buckets[s % 2]), k.buckets[s % 2] = at;
      continue;
    }
    if (k.buckets[h % 2]) k.chains.back() &= ~1u;  // the bucket's chain goes on
    else k.buckets[h % 2] = at;
    k.chains.push_back(h | 1);
  }
  elf_symbols t{};
  t.hash = hash, t.wide = true, t.bucket_count = 2, t.symbol_offset = 1, t.bloom_words = 1, t.bloom_shift = 5;
  lay_out(k, t);
  t.symbols = view_of(k.symbols.data(), k.symbols.size() * sizeof(raw_symbol));
  t.symbol_versions = view_of(k.versyms.data(), k.versyms.size() * 2), t.versioned = !versions.empty();
  t.versions = k.versions.data(), t.version_count = static_cast<uint32_t>(k.versions.size());
  t.strings = view_of(k.strings.data(), k.strings.size());
  loaded_object object{};
  object_symbols kept{};
  kept.elf = t;
  object.symbols = add_symbols(&state.objects, kept);
  EXPECT_TRUE(make_room(&state.objects.objects, state.objects.count, &state.objects.size, 16));
  state.objects.objects[state.objects.count] = object;
  return static_cast<int>(state.objects.count++);
}

elf_symbols& tables_of(loader_state& state, int index) {
  return state.objects.symbols[object_at(state, index).symbols].elf;
}

// A reference to f: the version it requires (null: none), whether it asks
// for a hidden one, is of the PLT's class, is dlsym's, names the file.
struct ask {
  const char* version = nullptr;
  bool hidden = false, plt = false, newest = false, names_file = false;
};

wanted wanted_f(const ask& a, int index) {
  const uint32_t version_hash = a.version ? sysv_hash_of(a.version) : 0;
  const int file = a.names_file ? index : -1;
  return {"f", gnu_hash_of("f"), a.version, version_hash, nullptr, file, a.hidden, a.plt, a.newest};
}

TEST(GlibcLookup, HashesAsGlibc) {
  EXPECT_EQ(gnu_hash_of("SQLDriverConnect"), 0xc00d6f0bu);
  EXPECT_EQ(sysv_hash_of("SQLDriverConnect"), 0x3d201c4u);
  // Versions of one hash, told apart by name alone.
  EXPECT_EQ(sysv_hash_of("UB"), sysv_hash_of("V2"));
}

TEST(GlibcLookup, BindsAsCheckMatch) {
  const lookup_end on = lookup_on, found = lookup_found, ends = lookup_process_ends;
  const struct {
    const char* rule;
    std::vector<def> defs;
    ask a;
    lookup_end end;
    std::vector<const char*> versions = v234;
  } cases[] = {
      {"a default version, by a reference naming it", {{.versym = 2}}, {.version = "V2"}, found},
      {"another version: not", {{.versym = 3}}, {.version = "V2"}, on},
      {"the version's hash, another name: not", {{.versym = 2}}, {.version = "UB"}, on},
      {"a hidden version: not unversioned", {{.versym = 3 | versym_hidden}}, {}, on},
      {"a hidden version, by a reference naming it", {{.versym = 3 | versym_hidden}}, {.version = "V3"}, found},
      {"unversioned: index 2 at once, even hidden", {{.versym = 2 | versym_hidden}}, {}, found},
      {"unversioned: index 2 before a default 3", {{.versym = 2}, {.versym = 3}}, {}, found},
      {"unversioned: the one default of 3 or above", {{.versym = 3}}, {}, found},
      {"unversioned: two defaults of 3 or above, neither", {{.versym = 3}, {.versym = 4}}, {}, on},
      {"unversioned: the one default beside a hidden", {{.versym = 3 | versym_hidden}, {.versym = 4}}, {}, found},
      {"dlsym: index 2 only as the one default", {{.versym = 2}, {.versym = 3}}, {.newest = true}, on},
      {"dlsym: a default beside a hidden 2", {{.versym = 2 | versym_hidden}, {.versym = 3}}, {.newest = true}, found},
      {"dlsym: the global index", {{}}, {.newest = true}, found},
      {"unversioned, a global definition", {{}}, {}, found},
      {"unversioned, a file without versym", {{}}, {}, found, {}},
      {"versioned, a global definition", {{}}, {.version = "V2"}, found},
      {"versioned and hidden, a global definition: not", {{}}, {.version = "V2", .hidden = true}, on},
      {"versioned, a global definition hidden: not", {{.versym = 1 | versym_hidden}}, {.version = "V2"}, on},
      {"versioned, a file without versym", {{}}, {.version = "V2"}, found, {}},
      {"versioned, the file it names without versym", {{}}, {.version = "V2", .names_file = true}, ends, {}},
      {"weak", {{.binding = stb_weak}}, {}, found},
      {"unique", {{.binding = stb_gnu_unique}}, {}, found},
      {"local: not", {{.binding = stb_local}}, {}, on},
      {"hidden: not", {{.visibility = stv_hidden}}, {}, on},
      {"internal: not", {{.visibility = stv_internal}}, {}, on},
      {"protected", {{.visibility = stv_protected}}, {}, found},
      {"undefined: not", {{.section = shn_undef, .valued = false}}, {}, on},
      {"undefined with a value", {{.section = shn_undef}}, {}, found},
      {"undefined with a value, for the PLT: not", {{.section = shn_undef}}, {.plt = true}, on},
      {"value 0: not", {{.valued = false}}, {}, on},
      {"SHN_ABS of value 0", {{.section = shn_abs, .valued = false}}, {}, found},
      {"TLS of value 0", {{.type = stt_tls, .valued = false}}, {}, found},
      {"no type", {{.type = stt_notype}}, {}, found},
      {"no size (a function without .size)", {{.size = 0}}, {}, found},
      {"data", {{.type = stt_object}}, {}, found},
      {"common", {{.type = stt_common}}, {}, found},
      {"indirect function", {{.type = stt_gnu_ifunc}}, {}, found},
      {"section: not", {{.type = stt_section}}, {}, on},
      {"file: not", {{.type = stt_file}}, {}, on},
  };
  for (const auto& c : cases)
    for (const int variant : {0, 1, 2}) {  // GNU's, its filter read in place; SysV's
      loader_state state{};
      tables k;
      const int index = add_object(state, k, c.defs, c.versions, variant < 2 ? gnu_hash : sysv_hash);
      if (variant == 1) tables_of(state, index).bloom = nullptr;
      EXPECT_EQ(look_in(state, index, wanted_f(c.a, index)), c.end) << c.rule << " (" << variant << ")";
      reset_loader_state(&state);
    }
}

TEST(GlibcLookup, TrustsTheGnuTable) {
  // The table spoiled after it is built (f is the last symbol, in bucket 1).
  const struct {
    const char* rule;
    void (*spoil)(tables& k, elf_symbols& t);
    lookup_end end;
  } cases[] = {
      {"a bloom filter that lets nothing through", [](tables& k, elf_symbols&) { k.bloom[0] = 0; }, lookup_on},
      {"f's bucket the start of the other chain", [](tables& k, elf_symbols&) { k.buckets[1] = 1; }, lookup_on},
      {"f's chain hash another", [](tables& k, elf_symbols&) { k.chains.back() ^= 4; }, lookup_on},
      // glibc shifts a 32-bit hash: a shift of 32 is one of 0, f's one bit serves both.
      {"a bloom shift of 32",
       [](tables& k, elf_symbols& t) { k.bloom[0] = uint64_t{1} << (gnu_hash_of("f") % 64), t.bloom_shift = 32; },
       lookup_found},
      // f's bucket sent to the chain before, its end bit cleared: glibc walks on into f's.
      {"a chain without its end",
       [](tables& k, elf_symbols&) {
         uint32_t at = k.buckets[0] - 1;
         while (!(k.chains[at] & 1)) ++at;
         k.chains[at] &= ~1u, k.buckets[1] = k.buckets[0];
       },
       lookup_found},
  };
  ASSERT_EQ(gnu_hash_of("f") % 2, 1u);
  for (const auto& c : cases) {
    loader_state state{};
    tables k;
    const int index = add_object(state, k, {{}}, v234, gnu_hash);
    c.spoil(k, tables_of(state, index));
    lay_out(k, tables_of(state, index));
    EXPECT_EQ(look_in(state, index, wanted_f({}, index)), c.end) << c.rule;
    reset_loader_state(&state);
  }
}

TEST(GlibcLookup, DlsymFindsAFunction) {
  const struct {
    const char* rule;
    def entry;
    bool function;
    const char* library = "libdrv.so";
  } cases[] = {
      {"a function", {}, true},
      {"in either Driver Manager's library: none", {}, false, "libiodbc.so.2"},
      {"SHN_ABS of value 0: NULL", {.section = shn_abs, .valued = false}, false},
      {"SHN_ABS with a value: not relocated", {.section = shn_abs}, false},
      {"thread-local data", {.type = stt_tls}, false},
      {"undefined with a value, as dlsym takes it", {.section = shn_undef}, true},
  };
  for (const auto& c : cases) {
    loader_state state{};
    tables k;
    const int index = add_object(state, k, {c.entry}, v234, gnu_hash);
    state.traits.read = nullptr;
    ASSERT_TRUE(add_to_load(&state, index, c.library, c.library, -1));
    EXPECT_EQ(gives_entry_point(state, "f", "libodbc.so.2\0libiodbc.so.2\0"), c.function) << c.rule;
    // None of these libraries has the Driver Manager's SONAME: its file is another, unread.
    EXPECT_FALSE(state.process_objects_listed) << c.rule;
    reset_loader_state(&state);
  }
}

TEST(GlibcLookup, FirstDefinitionInTheScope) {
  // Scope: the process's object 0, then the load's 1 and 2.
  const struct {
    const char* rule;
    std::vector<def> defs[3];
    int where;
  } cases[] = {
      {"the process's object first", {{{}}, {}, {{}}}, 0},
      {"then the load's in order", {{}, {{}}, {{}}}, 1},
      {"past a local definition", {{{.binding = stb_local}}, {}, {{}}}, 2},
      {"none", {{}, {}, {}}, -1},
  };
  for (const auto& c : cases) {
    loader_state state{};
    tables k[3];
    for (int i = 0; i < 3; ++i) add_object(state, k[i], c.defs[i], v234, gnu_hash);
    ASSERT_TRUE(make_room(&state.process_objects, 0, &state.process_object_size, 64));
    ASSERT_TRUE(make_room(&state.load, 0, &state.load_size, 64));
    state.process_objects[state.process_object_count++] = {0, 0};
    state.load[state.load_count++] = {1, 0, 0, -1, false};
    state.load[state.load_count++] = {2, 0, 0, 0, false};
    int where = -1;
    EXPECT_EQ(look_up(state, wanted_f({}, -1), &where) == lookup_found ? where : -1, c.where) << c.rule;
    reset_loader_state(&state);
  }
}

TEST(GlibcLookup, AsTheFileHoldsItReadWhereItIsNotMapped) {
  // This process's C library, its tables copied (the judge reads them mapped).
  std::ifstream file(process_libc(), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  const struct {
    const char *name, *version;
    lookup_end end;
  } cases[] = {{"malloc", nullptr, lookup_found},
               {"memcpy", "GLIBC_2.14", lookup_found},
               {"memcpy", "GLIBC_2.0", lookup_on},
               {"quorbel_nothing", nullptr, lookup_on}};
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {{"/l/libc.so.6", bytes}};
    fake_os.unmappable = true;
    loader_state state{};
    const int index = open_object(&state.objects, "/l/libc.so.6", read_elf_object);
    const uint32_t version_hash = c.version ? sysv_hash_of(c.version) : 0;
    const wanted w{c.name, gnu_hash_of(c.name), c.version, version_hash, nullptr, -1, false, false, false};
    EXPECT_EQ(look_in(state, index, w), c.end) << c.name;
    reset_loader_state(&state);
  }
}

}  // namespace

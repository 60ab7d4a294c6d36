#include "library_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes.h"
#include "ld_cache.h"

namespace {

using namespace std::string_literals;

// A DLL as a linker writes one: DOS header, "PE\0\0" at pe_offset, COFF
// and optional header (the magic of machine's word size unless given) and
// one section whose data ends the file, holding an import directory of the
// names given; cut to length when given.
std::string pe(unsigned machine, unsigned characteristics, uint32_t pe_offset = 0x80, size_t length = 0,
               unsigned magic = 0, const std::vector<std::string>& imports = {}) {
  const bool wide = machine == 0x8664 || machine == 0xAA64;
  const size_t optional = wide ? 240 : 224, sections = pe_offset + 24 + optional;
  const bool headers_written = pe_offset <= 8192;
  std::string data(imports.empty() ? 16 : 20 * (imports.size() + 1), '\0');
  for (size_t i = 0; i < imports.size(); ++i) {
    put_word(&data, 20 * i + 12, 0x1000 + data.size(), 4, false), put_word(&data, 20 * i + 16, 0x1000, 4, false);
    data += imports[i] + '\0';
  }
  std::string bytes(headers_written ? sections + 40 : 64, '\0');
  bytes[0] = 'M', bytes[1] = 'Z';
  if (headers_written) {
    bytes.replace(pe_offset, 4, "PE\0\0"s);
    put16(&bytes, pe_offset + 4, machine, false);
    put16(&bytes, pe_offset + 6, 1, false);
    put16(&bytes, pe_offset + 20, optional, false);
    put16(&bytes, pe_offset + 22, characteristics, false);
    put16(&bytes, pe_offset + 24, magic ? magic : wide ? 0x20B : 0x10B, false);
    put_word(&bytes, pe_offset + 24 + (wide ? 108 : 92), 16, 4, false);
    if (!imports.empty()) put_word(&bytes, pe_offset + 24 + (wide ? 120 : 104), 0x1000, 4, false);
    put_word(&bytes, sections + 8, data.size(), 4, false);     // its size in memory
    put_word(&bytes, sections + 12, 0x1000, 4, false);         // its address
    put_word(&bytes, sections + 16, data.size(), 4, false);    // its size in the file
    put_word(&bytes, sections + 20, sections + 40, 4, false);  // where it is
    bytes += data;
  }
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(pe_offset >> (8 * i));
  if (length) bytes.resize(length);
  return bytes;
}

std::string elf(int elf_class, int order, unsigned type, unsigned machine, size_t length = 0) {
  std::string bytes = elf_header(elf_class, order, type, machine);
  if (length) bytes.resize(length);
  return bytes;
}

// The image with one byte changed.
std::string patched(std::string bytes, size_t at, char value) {
  bytes[at] = value;
  return bytes;
}

// A Mach-O header of a CPU and file type (6: a dynamic library).
std::string macho(uint32_t cpu, uint32_t type) {
  std::string bytes(32, '\0');
  put_word(&bytes, 0, 0xFEEDFACF, 4, false), put_word(&bytes, 4, cpu, 4, false);
  put_word(&bytes, 12, type, 4, false);
  return bytes;
}

// A universal file holding these slices, each whole, one after another.
std::string universal(const std::vector<std::string>& slices, size_t cut = 0) {
  std::string bytes(8 + 20 * slices.size(), '\0');
  put_word(&bytes, 0, 0xCAFEBABE, 4, true), put_word(&bytes, 4, slices.size(), 4, true);
  for (size_t i = 0; i < slices.size(); ++i) {
    put_word(&bytes, 8 + 20 * i, slices[i][4] | slices[i][7] << 24, 4, true);
    put_word(&bytes, 16 + 20 * i, bytes.size(), 4, true), put_word(&bytes, 20 + 20 * i, slices[i].size(), 4, true);
    bytes += slices[i];
  }
  bytes.resize(bytes.size() - cut);
  return bytes;
}

struct cache_entry {
  uint32_t flags;
  std::string key, value;
  uint64_t hwcap = 0;
};

// A loader cache of the current format, the entries in the order given,
// its strings after them; its byte order flag (2: little, 3: big) and a
// header that claims extra entries. Behind an old-format table with
// old_entries.
std::string ld_cache(const std::vector<cache_entry>& entries, unsigned order = 2, uint32_t extra = 0,
                     bool old_entries = false) {
  std::string old;
  if (old_entries) {
    old = "ld.so-1.7.0"s + std::string(5 + 12 * entries.size(), '\0');
    put_word(&old, 12, entries.size(), 4, false);
    old.resize((old.size() + 7) & ~size_t{7}, '\0');
  }
  std::string bytes = "glibc-ld.so.cache1.1"s + std::string(28 + 24 * entries.size(), '\0');
  std::string strings;
  put_word(&bytes, 20, entries.size() + extra, 4, false);
  bytes[28] = static_cast<char>(order);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = 48 + 24 * i;
    put_word(&bytes, at, entries[i].flags, 4, false);
    put_word(&bytes, at + 4, bytes.size() + strings.size(), 4, false);
    strings += entries[i].key + '\0';
    put_word(&bytes, at + 8, bytes.size() + strings.size(), 4, false);
    strings += entries[i].value + '\0';
    put_word(&bytes, at + 16, entries[i].hwcap, 8, false);
  }
  return old + bytes + strings;
}

// A cache of the old format alone: its entries, then their strings.
std::string old_ld_cache(const std::vector<cache_entry>& entries) {
  std::string bytes = "ld.so-1.7.0"s + std::string(5 + 12 * entries.size(), '\0'), strings;
  put_word(&bytes, 12, entries.size(), 4, false);
  for (size_t i = 0; i < entries.size(); ++i) {
    put_word(&bytes, 16 + 12 * i, entries[i].flags, 4, false);
    put_word(&bytes, 20 + 12 * i, strings.size(), 4, false);
    strings += entries[i].key + '\0';
    put_word(&bytes, 24 + 12 * i, strings.size(), 4, false);
    strings += entries[i].value + '\0';
  }
  return bytes + strings;
}

const unsigned dll = 0x2002, program = 0x0002;
const int own_class = sizeof(void*) == 8 ? 2 : 1;
const unsigned own_machine = program_arch() == arch_x64 ? 62 : 3;
const std::string own = elf(own_class, 1, 3, own_machine);
const uint64_t flags_1 = 0x6ffffffb;

TEST(ClassifyLibrary, ReadsOnlyWhatTheHeadersSay) {
  const std::string pie = elf_header(own_class, 1, 3, own_machine, {{flags_1, "134217728"}});
  const size_t phentsize = own_class == 2 ? 54 : 42, phnum = own_class == 2 ? 56 : 44;
  const struct {
    const char* name;
    std::string bytes;
    library_format format;
    bool library;
    library_arch arch;
  } cases[] = {
      {"PE x86 DLL", pe(0x014C, dll), format_pe, true, arch_x86},
      {"PE x64 DLL", pe(0x8664, dll), format_pe, true, arch_x64},
      {"PE arm64 DLL", pe(0xAA64, dll), format_pe, true, arch_arm64},
      {"PE arm DLL", pe(0x01C4, dll), format_pe, true, arch_arm},
      {"PE Itanium DLL", pe(0x0200, dll), format_pe, true, arch_other},
      {"PE program", pe(0x8664, program), format_pe, false, arch_other},
      {"PE DLL flag without an image", pe(0x8664, 0x2000), format_pe, false, arch_other},
      {"PE headers far into the file", pe(0x8664, dll, 4072), format_pe, true, arch_x64},
      {"PE section table cut by a byte", pe(0x8664, dll, 4073, 4073 + 24 + 240 + 39), format_pe, false, arch_other},
      {"PE offset beyond the file", pe(0x8664, dll, 0xFFFFFFF0u), format_pe, false, arch_other},
      {"PE cut inside the DOS header", pe(0x8664, dll, 0x80, 63), format_pe, false, arch_other},
      {"PE cut inside the COFF header", pe(0x8664, dll, 0x80, 0x80 + 23), format_pe, false, arch_other},
      {"PE section data one byte past the end", pe(0x8664, dll, 0x80, 0x80 + 24 + 240 + 40 + 15), format_pe, false,
       arch_other},
      {"PE x64 with a 32-bit optional header", pe(0x8664, dll, 0x80, 0, 0x10B), format_pe, false, arch_other},
      {"ELF taken for PE", elf(2, 1, 3, 62), format_pe, false, arch_other},
      {"ELF x86-64 shared object", elf(2, 1, 3, 62), format_elf, true, arch_x64},
      {"ELF i386 shared object", elf(1, 1, 3, 3), format_elf, true, arch_x86},
      {"ELF aarch64 shared object", elf(2, 1, 3, 183), format_elf, true, arch_arm64},
      {"ELF arm shared object", elf(1, 1, 3, 40), format_elf, true, arch_arm},
      {"ELF x32 shared object", elf(1, 1, 3, 62), format_elf, true, arch_other},
      {"ELF big-endian aarch64", elf(2, 2, 3, 183), format_elf, true, arch_other},
      {"ELF program", elf(2, 1, 2, 62), format_elf, false, arch_other},
      {"ELF relocatable object", elf(2, 1, 1, 62), format_elf, false, arch_other},
      {"ELF 64-bit header cut by a byte", elf(2, 1, 3, 62, 63), format_elf, false, arch_other},
      {"ELF 32-bit header whole", elf(1, 1, 3, 3), format_elf, true, arch_x86},
      {"ELF 32-bit header cut by a byte", elf(1, 1, 3, 3, 51), format_elf, false, arch_other},
      {"ELF of no class", elf(3, 1, 3, 62), format_elf, false, arch_other},
      {"PE taken for ELF", pe(0x8664, dll), format_elf, false, arch_other},
      {"text", "[ODBC]\nDriver=x\n", format_elf, false, arch_other},
      {"empty", "", format_pe, false, arch_other},
      // What glibc refuses of its own class and machine.
      {"GNU OS ABI, ABI version 3", patched(patched(own, 7, 3), 8, 3), format_elf, true, program_arch()},
      {"GNU OS ABI, ABI version 4", patched(patched(own, 7, 3), 8, 4), format_elf, false, arch_other},
      {"System V OS ABI, ABI version 1", patched(own, 8, 1), format_elf, false, arch_other},
      {"another OS ABI", patched(own, 7, 9), format_elf, false, arch_other},
      {"identification version 0", patched(own, 6, 0), format_elf, false, arch_other},
      {"padding not zero", patched(own, 15, 1), format_elf, false, arch_other},
      {"file version 2", patched(own, 20, 2), format_elf, false, arch_other},
      {"program header entries a byte short", patched(own, phentsize, own[phentsize] - 1), format_elf, false,
       arch_other},
      {"no program headers", patched(own, phnum, 0), format_elf, false, arch_other},
      {"program headers past the end", own.substr(0, own_class == 2 ? 64 + 111 : 52 + 63), format_elf, false,
       arch_other},
      {"segment one byte past the end", own.substr(0, own.size() - 1), format_elf, false, arch_other},
      {"position-independent program", pie, format_elf, false, arch_other},
      {"Mach-O x86-64 library", macho(0x01000007, 6), format_macho, true, arch_x64},
      {"Mach-O arm64 bundle", macho(0x0100000C, 8), format_macho, true, arch_arm64},
      {"Mach-O program", macho(0x01000007, 2), format_macho, false, arch_other},
      {"universal, this program's slice second", universal({macho(0x0100000C, 6), macho(0x01000007, 6)}), format_macho,
       true, arch_x64},
      {"universal without this program's slice", universal({macho(0x0100000C, 6), macho(12, 6)}), format_macho, true,
       arch_arm64},
      {"universal, its slice cut by a byte", universal({macho(0x0100000C, 6), macho(0x01000007, 6)}, 1), format_macho,
       false, arch_other},
  };
  for (const auto& c : cases) {
    if (program_arch() != arch_x64 && c.format == format_macho) continue;
    library_arch arch = arch_other;
    // A copy of exactly the bytes of the file, so that a read past them shows.
    const std::vector<unsigned char> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(classify_library(bytes.data(), bytes.size(), c.format, &arch), c.library) << c.name;
    if (c.library) {
      EXPECT_EQ(arch, c.arch) << c.name;
    }
  }
}

// Checks values against a fake file system and what the loader knows.
struct check_case {
  const char* name;
  std::string value;
  std::string word;
  std::string file;  // the file checked
};

void expect_checks(const std::vector<check_case>& cases) {
  for (const check_case& c : cases) {
    forget_loaded_libraries();
    library_verdict verdict;
    check_library(c.value.c_str(), c.value.c_str(), &verdict);
    EXPECT_EQ(verdict.word, c.word) << c.name;
    EXPECT_EQ(verdict.file, c.file) << c.name;
  }
}

const char* const other_arch = program_arch() == arch_x64 ? "x86" : "x64";
const std::string other = program_arch() == arch_x64 ? elf(1, 1, 3, 3) : elf(2, 1, 3, 62);

TEST(CheckLibrary, NamesWhatIsWrongWithTheFile) {
  reset_fakes();
  fake_os.files = {{"/lib/own.so", own},
                   {"/lib/bare.so", own},
                   {"/lib/text.so", "hello"},
                   {"/lib/program", elf(2, 1, 2, 62)},
                   {"/lib/arm64.so", elf(2, 1, 3, 183)},
                   {"/lib/arm.so", elf(1, 1, 3, 40)},
                   {"/lib/s390.so", elf(2, 1, 3, 22)}};
  fake_os.unreadable = {"/lib/locked.so"};
  fake_os.denied = {"/lib/private.so"};
  fake_os.facts.default_folders = "/lib";
  expect_checks({
      {"own architecture", "/lib/own.so", "ok", "/lib/own.so"},
      {"found by the search", "bare.so", "ok", "/lib/bare.so"},
      {"not found by the search", "nowhere.so", "missing", ""},
      {"no such file", "/lib/gone.so", "missing", ""},
      {"no library value", "", "missing", ""},
      {"cannot be read", "/lib/locked.so", "unreadable", "/lib/locked.so"},
      {"may not be read", "/lib/private.so", "unreadable", "/lib/private.so"},
      {"text", "/lib/text.so", "not-a-library", "/lib/text.so"},
      {"program", "/lib/program", "not-a-library", "/lib/program"},
      {"other architecture", "/lib/arm64.so", program_arch() == arch_arm64 ? "ok" : "mismatch:arm64", "/lib/arm64.so"},
      {"32-bit ARM", "/lib/arm.so", "mismatch:arm", "/lib/arm.so"},
      {"unknown architecture", "/lib/s390.so", "mismatch:other", "/lib/s390.so"},
  });
}

TEST(CheckLibrary, SearchesAsTheDriverManagerAndItsLoaderDo) {
  // Folders whose candidate for x.so is 4,095 and 4,096 characters long.
  const std::string fits(4095 - 5, 'f'), over(4096 - 5, 'o');
  const struct {
    const char* name;
    const char* library_path;
    std::vector<std::string> first_readable;
    bool loader_search;
    const char* word;
    const char* file;
  } cases[] = {
      {"';' separates folders too", "/a;/b", {}, true, "ok", "/b/x.so"},
      {"another class is passed over", "/a:/b", {}, true, "ok", "/b/x.so"},
      {"only another class", "/a", {}, true, "mismatch", "/a/x.so"},
      {"what is not a library ends the search", "/t:/b", {}, true, "not-a-library", "/t/x.so"},
      {"what may not be read is passed over", "/d:/b", {}, true, "ok", "/b/x.so"},
      {"an empty folder is the current one", ":/b", {}, true, "ok", "x.so"},
      {"hwcaps subfolders first", "/h:/b", {}, true, "ok", "/h/glibc-hwcaps/x86-64-v3/x.so"},
      {"the cache, then the default folders", nullptr, {}, true, "ok", "/c/y.so"},
      {"the Driver Manager takes the first readable one", nullptr, {"/a:/b"}, true, "mismatch", "/a/x.so"},
      {"and drops empty folders", nullptr, {":/b"}, true, "ok", "/b/x.so"},
      {"no search by the loader", nullptr, {"/z"}, false, "missing", ""},
      {"a candidate of 4,095 characters", nullptr, {fits}, false, "ok", ""},
      {"a candidate of 4,096 characters", nullptr, {over}, false, "missing", ""},
      {"LD_LIBRARY_PATH: a candidate of 4,095 characters", fits.c_str(), {}, true, "ok", ""},
      {"LD_LIBRARY_PATH: a candidate of 4,096 characters", over.c_str(), {}, true, "missing", ""},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {{"/a/x.so", other},   {"/b/x.so", own}, {"/t/x.so", "text"},
                     {"/d/x.so", own},     {"x.so", own},    {"/h/glibc-hwcaps/x86-64-v3/x.so", own},
                     {"/c/y.so", own},     {"/e/y.so", own}, {fits + "/x.so", own},
                     {over + "/x.so", own}};
    fake_os.denied = {"/d/x.so"};
    fake_os.facts.library_path = c.library_path;
    fake_os.facts.subfolders = "glibc-hwcaps/x86-64-v3/\0";
    fake_os.facts.default_folders = "/e";
    fake_os.first_readable = c.first_readable;
    fake_os.loader_search = c.loader_search;
    fake_os.facts.cache = "/cache";
    fake_os.facts.cache_flags[0] = 0x303;
    fake_os.files["/cache"] = ld_cache({{0x303, "y.so", "/c/y.so"}});
    const std::string word = c.word == "mismatch"s ? "mismatch:"s + other_arch : c.word;
    const std::string value = strstr(c.file, "y.so") ? "y.so" : "x.so";
    expect_checks({{c.name, value, word, c.word == "ok"s && !*c.file ? fits + "/x.so" : c.file}});
  }
}

TEST(LdCache, FindsANameAsTheLoaderDoes) {
  const unsigned x64[2] = {0x303, 0}, x86[2] = {1, 3};
  const uint64_t v3 = uint64_t{1} << 62 | 1;  // built for the second hwcaps name below
  const std::vector<cache_entry> numbered = {
      {0x303, "libz.so.10", "/10"}, {0x303, "libz.so.9", "/9"}, {0x303, "libz.so.1", "/1"}};
  // In the loader's order, which puts a digit above any other character.
  const std::vector<cache_entry> ordered = {{0x303, "lib2.so", "/2"},
                                            {0x303, "lib1.so", "/1"},
                                            {0x303, "libx.so", "/x"},
                                            {0x303, "libb.so", "/b"},
                                            {0x303, "liba.so", "/a"}};
  const struct {
    const char* name;
    std::string cache;
    const char* key;
    const unsigned* flags;
    const char* path;  // null: none
  } cases[] = {
      {"an entry of this architecture", ld_cache({{0x303, "libz.so.1", "/x/libz.so.1"}}), "libz.so.1", x64,
       "/x/libz.so.1"},
      {"an entry of another", ld_cache({{0x0003, "libz.so.1", "/i/libz.so.1"}}), "libz.so.1", x64, nullptr},
      {"the first entry of this one",
       ld_cache({{0x0003, "libz.so.1", "/i"}, {0x303, "libz.so.1", "/x"}, {0x303, "libz.so.1", "/y"}}), "libz.so.1",
       x64, "/x"},
      {"either flag of a 32-bit program", ld_cache({{1, "ld-linux.so.2", "/l"}}), "ld-linux.so.2", x86, "/l"},
      {"numbers compared as numbers", ld_cache(numbered), "libz.so.9", x64, "/9"},
      {"and the highest first", ld_cache(numbered), "libz.so.10", x64, "/10"},
      {"a name it lacks", ld_cache(numbered), "libz.so.2", x64, nullptr},
      {"written in the other byte order", ld_cache({{0x303, "a", "/a"}}, 3), "a", x64, nullptr},
      {"byte order unset", ld_cache({{0x303, "a", "/a"}}, 0), "a", x64, "/a"},
      // One entry claimed more, padded to end where it would end.
      {"entries claimed up to its end", ld_cache({{0x303, "a", "/a"}}, 2, 1) + std::string(19, '\0'), "a", x64, "/a"},
      {"a byte short of the entries claimed", ld_cache({{0x303, "a", "/a"}}, 2, 1) + std::string(18, '\0'), "a", x64,
       nullptr},
      {"behind the old format", ld_cache({{0x303, "a", "/a"}}, 2, 0, true), "a", x64, "/a"},
      {"only the old format", ld_cache({{0x303, "a", "/a"}}, 2, 0, true).substr(0, 40), "a", x64, nullptr},
      {"a digit sorts after a letter", ld_cache(ordered), "lib1.so", x64, "/1"},
      {"and a letter before a digit", ld_cache(ordered), "libb.so", x64, "/b"},
      {"the first entry of a name, not the one the search meets",
       ld_cache({{0x303, "a", "/a0"}, {0x303, "a", "/a1"}, {0x303, "a", "/a2"}}), "a", x64, "/a0"},
      {"only the old format, whole", old_ld_cache({{0x303, "liba.so", "/a"}, {0x303, "a", "/b"}}), "a", x64, "/b"},
      {"a hwcaps entry this processor takes",
       ld_cache({{0x303, "a", "/v3/a", v3}, {0x303, "a", "/a"}}) + "\xa1\x21\xa4\xea"
                                                                   "\1\0\0\0"
                                                                   "\1\0\0\0"
                                                                   "\0\0\0\0",
       "a", x64, "/a"},
  };
  for (const auto& c : cases) {
    char path[64] = "";
    const bool found = ld_cache_lookup(reinterpret_cast<const unsigned char*>(c.cache.data()), c.cache.size(), c.key,
                                       c.flags, "x86-64-v4\0x86-64-v3\0", path, sizeof path);
    EXPECT_EQ(found ? path : "(none)", std::string(c.path ? c.path : "(none)")) << c.name;
  }
}

TEST(CheckLibrary, FollowsWhatTheLibraryNeeds) {
  const uint64_t needed = 1, soname = 14, rpath = 15, runpath = 29;
  const std::string no_default_folders = "2048";
  const struct {
    const char* name;
    std::vector<std::pair<uint64_t, std::string>> root;
    std::string word;
  } cases[] = {
      {"found in a default folder", {{needed, "libd.so"}}, "ok"},
      {"found nowhere", {{needed, "libgone.so"}}, "missing-dependency:libgone.so"},
      {"its name as the file writes it", {{needed, "lib\tgone.so"}}, "missing-dependency:lib?gone.so"},
      {"in the RUNPATH, from its own folder", {{runpath, "$ORIGIN/sub"}, {needed, "libs.so"}}, "ok"},
      {"in the RPATH", {{rpath, "/p"}, {needed, "libp.so"}}, "ok"},
      {"RPATH passed over with a RUNPATH",
       {{rpath, "/p"}, {runpath, "/q"}, {needed, "libp.so"}},
       "missing-dependency:libp.so"},
      {"the RPATH of the library that loaded it", {{rpath, "/p"}, {needed, "libmid.so"}}, "ok"},
      {"only of another architecture", {{needed, "libo.so"}}, "mismatch-dependency:libo.so:"s + other_arch},
      {"not a library", {{needed, "libt.so"}}, "not-a-library-dependency:libt.so"},
      {"loaded in the process by its SONAME", {{needed, "libc.so.6"}}, "ok"},
      {"a path in a token", {{needed, "$ORIGIN/sub/libs.so"}}, "ok"},
      {"$ORIGIN_x is no token", {{runpath, "$ORIGIN_x"}, {needed, "libs.so"}}, "ok"},
      {"only the cache holds it", {{needed, "libk.so"}}, "ok"},
      {"-z nodefaultlib: not the default folders",
       {{flags_1, no_default_folders}, {needed, "libd.so"}},
       "missing-dependency:libd.so"},
      {"-z nodefaultlib: nor the cache",
       {{flags_1, no_default_folders}, {needed, "libk.so"}},
       "missing-dependency:libk.so"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {{"/r/root.so", elf_header(own_class, 1, 3, own_machine, c.root)},
                     {"/e/libd.so", own},
                     {"/r/sub/libs.so", own},
                     {"/p/libp.so", own},
                     {"/e/libmid.so", elf_header(own_class, 1, 3, own_machine, {{needed, "libdeep.so"}})},
                     {"/p/libdeep.so", own},
                     {"/e/libo.so", other},
                     {"/e/libt.so", "text"},
                     {"/run/libc.so", elf_header(own_class, 1, 3, own_machine, {{soname, "libc.so.6"}})},
                     {"$ORIGIN_x/libs.so", own},
                     {"/r_x/libs.so", "text"},
                     {"/k/libk.so", own},
                     {"/cache", ld_cache({{0x303, "libk.so", "/k/libk.so"}})}};
    fake_os.facts.cache = "/cache";
    fake_os.facts.cache_flags[0] = 0x303;
    fake_os.facts.default_folders = "/e";
    fake_os.facts.loaded = "/run/libc.so\0";
    expect_checks({{c.name, "/r/root.so", c.word, "/r/root.so"}});
  }
}

TEST(CheckLibrary, FollowsWhatADllImportsAsWindowsDoes) {
  const std::string x64 = pe(0x8664, dll), x86 = pe(0x014C, dll);
  const struct {
    const char* name;
    std::vector<std::string> imports;
    std::string word;
  } cases[] = {
      {"beside the driver, before the system folder", {"b.dll"}, "ok"},
      {"in the system folder", {"s.dll"}, "ok"},
      {"a DLL of the load answers in any case", {"b.dll", "B.DLL"}, "ok"},
      {"another architecture found first", {"o.dll"}, "mismatch-dependency:o.dll:x86"},
      {"found nowhere", {"gone"}, "missing-dependency:gone.dll"},
      {"an API set", {"api-ms-win-core-synch-l1-2-0.dll"}, "ok"},
      {"a runtime installed side by side", {"MSVCR90.dll"}, "ok"},
      {"one that is not", {"msvcr80.dll"}, "missing-dependency:msvcr80.dll"},
      {"in the current folder", {"c.dll"}, "ok"},
      {"in PATH, split at ';' alone", {"p.dll"}, "ok"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.format = format_pe;
    fake_os.files = {{"C:\\drv\\a.dll", pe(0x8664, dll, 0x80, 0, 0, c.imports)},
                     {"C:\\drv\\b.dll", x64},
                     {"C:\\sys\\b.dll", "text"},
                     {"C:\\sys\\s.dll", x64},
                     {"C:\\drv\\o.dll", x86},
                     {"C:\\sys\\o.dll", x64},
                     {".\\c.dll", x64},
                     {"C:\\path\\p.dll", x64}};
    fake_os.facts.system_folder = "C:\\sys";
    fake_os.facts.path = "C:\\path";
    fake_os.facts.side_by_side = "vc90.crt\0";
    if (program_arch() == arch_x64) expect_checks({{c.name, "C:\\drv\\a.dll", c.word, "C:\\drv\\a.dll"}});
  }
}

TEST(CheckLibrary, ChecksSymbolVersionsAsGlibcDoes) {
  const uint64_t needed = 1, verneed = 0x6ffffffe, verdef = 0x6ffffffc;
  const struct {
    const char* name;
    std::string need;  // what the library requires of libv.so
    std::vector<std::pair<uint64_t, std::string>> libv;
    std::string word;
  } cases[] = {
      {"defined", "libv.so V_2", {{verdef, "libv.so V_1 V_2"}}, "ok"},
      {"not defined", "libv.so V_2", {{verdef, "libv.so V_1"}}, "missing-version:libv.so:V_2"},
      {"a file that defines no versions", "libv.so V_2", {}, "ok"},
      {"a weak requirement", "libv.so V_2/2", {{verdef, "libv.so V_1"}}, "ok"},
      {"the base flag is not weak", "libv.so V_2/1", {{verdef, "libv.so V_1"}}, "missing-version:libv.so:V_2"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {{"/r/root.so", elf_header(own_class, 1, 3, own_machine, {{needed, "libv.so"}, {verneed, c.need}})},
                     {"/e/libv.so", elf_header(own_class, 1, 3, own_machine, c.libv)}};
    fake_os.facts.default_folders = "/e";
    expect_checks({{c.name, "/r/root.so", c.word, "/r/root.so"}});
  }
}

TEST(CheckLibrary, RemembersAVerdictByTheFileAndItsFolder) {
  reset_fakes();
  const uint64_t needed = 1, runpath = 29;
  fake_os.files = {
      {"/one/drv.so", elf_header(own_class, 1, 3, own_machine, {{runpath, "$ORIGIN/deps"}, {needed, "libx.so"}})},
      {"/one/deps/libx.so", own}};
  fake_os.links = {{"/two/drv.so", "/one/drv.so"}};
  forget_loaded_libraries();
  for (const auto& [value, word] : {std::pair{"/one/drv.so", "ok"}, {"/two/drv.so", "missing-dependency:libx.so"}}) {
    library_verdict verdict;
    check_library(value, value, &verdict);
    EXPECT_STREQ(verdict.word, word) << value;
  }
}

TEST(CheckLibrary, SearchesDyldLibraryPathBeforeTheFallback) {
  reset_fakes();
  fake_os.format = format_macho;
  fake_os.files = {{"/dy/x.dylib", macho(0x0100000C, 6)}, {"/fb/x.dylib", macho(0x01000007, 6)}};
  fake_os.facts.library_path = "/dy";
  fake_os.facts.default_folders = "/fb";
  if (program_arch() == arch_x64) expect_checks({{"first found", "x.dylib", "mismatch:arm64", "/dy/x.dylib"}});
}

TEST(FindInFolders, TakesTheFirstReadableCandidateInOrder) {
  static std::vector<std::string> files;
  static std::vector<std::string> asked;
  const file_readable readable = [](const char* path) {
    asked.push_back(path);
    for (const std::string& file : files)
      if (file == path) return true;
    return false;
  };
  const std::string f58(58, 'f'), f59(59, 'f');  // with "/x.so", 63 and 64 characters
  const struct {
    const char* name;
    std::vector<const char*> lists;
    std::vector<std::string> files;
    std::string found;
    std::vector<std::string> asked;
  } cases[] = {
      {"first list wins", {"/dm", "/env", "/conf"}, {"/env/x.so", "/dm/x.so"}, "/dm/x.so", {"/dm/x.so"}},
      {"lists in order, folders in order",
       {"/dm", "/a:/b", "/c"},
       {"/c/x.so", "/b/x.so"},
       "/b/x.so",
       {"/dm/x.so", "/a/x.so", "/b/x.so"}},
      {"null and empty lists passed over", {nullptr, "", "/c"}, {"/c/x.so"}, "/c/x.so", {"/c/x.so"}},
      {"empty folders are dropped", {"/a::/b"}, {"./x.so", "/b/x.so"}, "/b/x.so", {"/a/x.so", "/b/x.so"}},
      {"trailing separator", {"/a:"}, {"./x.so"}, "", {"/a/x.so"}},
      {"nowhere", {"/a:/b"}, {}, "", {"/a/x.so", "/b/x.so"}},
      // A candidate that does not fit the buffer is never asked for.
      {"exactly fitting", {f58.c_str()}, {f58 + "/x.so"}, f58 + "/x.so", {f58 + "/x.so"}},
      {"one over", {f59.c_str()}, {f59 + "/x.so"}, "", {}},
  };
  for (const auto& c : cases) {
    files = c.files;
    asked.clear();
    char found[64];
    const size_t length = find_in_folders("x.so", c.lists.data(), c.lists.size(), readable, found, sizeof found);
    EXPECT_EQ(std::string(found, length), c.found) << c.name;
    EXPECT_EQ(asked, c.asked) << c.name;
  }
}

}  // namespace

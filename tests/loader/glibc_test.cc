// glibc's search for what a library needs, and its check of symbol versions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "check_cases.h"
#include "fakes.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(Glibc, FollowsWhatTheLibraryNeeds) {
  const std::string no_default_folders = std::to_string(df_1_nodeflib);
  const std::vector<std::pair<uint64_t, std::string>> most_names(4096, {dt_needed, "libd.so"});
  auto one_more = most_names;
  one_more.push_back({dt_needed, "libd.so"});
  const struct {
    const char* name;
    std::vector<std::pair<uint64_t, std::string>> root;
    std::string word;
  } cases[] = {
      {"found in a default folder", {{dt_needed, "libd.so"}}, "ok"},
      {"found nowhere", {{dt_needed, "libgone.so"}}, "missing-dependency:libgone.so"},
      {"its name as the file writes it", {{dt_needed, "lib\tgone.so"}}, "missing-dependency:lib?gone.so"},
      {"in the RUNPATH, from its own folder", {{dt_runpath, "$ORIGIN/sub"}, {dt_needed, "libs.so"}}, "ok"},
      {"in the RPATH", {{dt_rpath, "/p"}, {dt_needed, "libp.so"}}, "ok"},
      {"RPATH passed over with a RUNPATH",
       {{dt_rpath, "/p"}, {dt_runpath, "/q"}, {dt_needed, "libp.so"}},
       "missing-dependency:libp.so"},
      {"the RPATH of the library that loaded it", {{dt_rpath, "/p"}, {dt_needed, "libmid.so"}}, "ok"},
      {"only of another architecture", {{dt_needed, "libo.so"}}, "mismatch-dependency:libo.so:"s + other_arch},
      {"not a library", {{dt_needed, "libt.so"}}, "not-a-library-dependency:libt.so"},
      {"loaded in the process by its SONAME", {{dt_needed, "libc.so.6"}}, "ok"},
      {"a path in a token", {{dt_needed, "$ORIGIN/sub/libs.so"}}, "ok"},
      {"$ORIGIN_x is no token", {{dt_runpath, "$ORIGIN_x"}, {dt_needed, "libs.so"}}, "ok"},
      {"only the cache holds it", {{dt_needed, "libk.so"}}, "ok"},
      {"-z nodefaultlib: not the default folders",
       {{dt_flags_1, no_default_folders}, {dt_needed, "libd.so"}},
       "missing-dependency:libd.so"},
      {"-z nodefaultlib: nor the cache",
       {{dt_flags_1, no_default_folders}, {dt_needed, "libk.so"}},
       "missing-dependency:libk.so"},
      {"the most names a library may need", most_names, "ok"},
      {"one more is not followed", one_more, "not-followed"},
      {"a library needed that needs too many", {{dt_needed, "libmany.so"}}, "not-followed-dependency:libmany.so"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {
        {"/r/root.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, c.root)},
        {"/e/libd.so", own},
        {"/r/sub/libs.so", own},
        {"/p/libp.so", own},
        {"/e/libmid.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, {{dt_needed, "libdeep.so"}})},
        {"/p/libdeep.so", own},
        {"/e/libo.so", other},
        {"/e/libt.so", "text"},
        {"/run/libc.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, {{dt_soname, "libc.so.6"}})},
        {"$ORIGIN_x/libs.so", own},
        {"/r_x/libs.so", "text"},
        {"/k/libk.so", own},
        {"/e/libmany.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, one_more)},
        {"/cache", ld_cache({{0x303, "libk.so", "/k/libk.so"}})}};
    fake_os.facts.cache = "/cache";
    fake_os.facts.cache_flags[0] = 0x303;
    fake_os.facts.default_folders = "/e";
    fake_os.facts.loaded = "/run/libc.so\0\0";
    expect_checks({{c.name, "/r/root.so", c.word, "/r/root.so"}});
  }
}

// Binding reads the process's objects for a lookup; a load that makes no
// reference (these images have no symbols) looks nothing up.
TEST(Glibc, ReadsTheProcessObjectsOnlyToLookUp) {
  reset_fakes();
  fake_os.files = {{"/r/root.so", own}, {"/run/libc.so", own}};
  fake_os.facts.loaded = "/run/libc.so\0\0";
  expect_checks({{"a library that makes no reference", "/r/root.so", "ok", "/r/root.so"}});
  EXPECT_EQ(std::count(fake_os.opened.begin(), fake_os.opened.end(), "/run/libc.so"), 0);
}

TEST(Glibc, ChecksSymbolVersionsAsGlibcDoes) {
  const struct {
    const char* name;
    std::string need;  // what the library requires of libv.so
    std::vector<std::pair<uint64_t, std::string>> libv;
    std::string word;
  } cases[] = {
      {"defined", "libv.so V_2", {{dt_verdef, "libv.so V_1 V_2"}}, "ok"},
      {"not defined", "libv.so V_2", {{dt_verdef, "libv.so V_1"}}, "missing-version:libv.so:V_2"},
      {"a file that defines no versions", "libv.so V_2", {}, "ok"},
      {"a weak requirement", "libv.so V_2/" + std::to_string(ver_flg_weak), {{dt_verdef, "libv.so V_1"}}, "ok"},
      {"the base flag is not weak",
       "libv.so V_2/" + std::to_string(ver_flg_base),
       {{dt_verdef, "libv.so V_1"}},
       "missing-version:libv.so:V_2"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {{"/r/root.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine,
                                               {{dt_needed, "libv.so"}, {dt_verneed, c.need}})},
                     {"/e/libv.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, c.libv)}};
    fake_os.facts.default_folders = "/e";
    expect_checks({{c.name, "/r/root.so", c.word, "/r/root.so"}});
  }
}

TEST(Glibc, ReadsSymbolTablesWithinBounds) {
  const std::string most_relocations = std::to_string((uint64_t{1} << 22) * elf64_rela_size);
  const std::string one_more = std::to_string((uint64_t{1} << 22) * elf64_rela_size + elf64_rela_size);
  const std::string rela_size = std::to_string(elf64_rela_size);
  const struct {
    const char* name;
    std::vector<std::pair<uint64_t, std::string>> dynamic;
    std::string word;
  } cases[] = {
      {"a filter of two words", {{dt_gnu_hash, "#0 #0 #2 #6 #0 #0 #0 #0"}}, "ok"},
      {"a filter of three words", {{dt_gnu_hash, "#0 #0 #3 #6 #0 #0 #0 #0 #0 #0"}}, "not-a-library"},
      {"a bucket before the chains, no symbol table", {{dt_gnu_hash, "#1 #2 #1 #6 #0 #0 #1"}}, "not-a-library"},
      {"the most buckets, past the file", {{dt_gnu_hash, "#4194304 #0 #1 #6"}}, "not-a-library"},
      {"a bucket more is not followed", {{dt_gnu_hash, "#4194305 #0 #1 #6"}}, "not-followed"},
      {"the most relocations, past the file",
       {{dt_rela, "64"}, {dt_relasz, most_relocations}, {dt_relaent, rela_size}},
       "not-a-library"},
      {"a relocation more is not followed",
       {{dt_rela, "64"}, {dt_relasz, one_more}, {dt_relaent, rela_size}},
       "not-followed"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {{"/r/root.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, c.dynamic)}};
    expect_checks({{c.name, "/r/root.so", c.word, "/r/root.so"}});
  }
}

}  // namespace

// The check of a driver's library: the Driver Manager's own search, then
// its loader's.
#include "library_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "check_cases.h"
#include "driver_file.h"
#include "fakes.h"
#include "images.h"
#include "loader/ld_cache.h"

namespace {

using namespace std::string_literals;

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
      {"an empty folder is the current one", ":/b", {}, true, "ok", "/work/x.so"},
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
    const size_t length = find_in_folders("x.so", {c.lists.data(), c.lists.size()}, readable, found, sizeof found);
    EXPECT_EQ(std::string(found, length), c.found) << c.name;
    EXPECT_EQ(asked, c.asked) << c.name;
  }
}

}  // namespace

namespace {

TEST(CheckLibrary, AdvisesWhereTheFixLies) {
  const uint64_t needed = 1, verneed = 0x6ffffffe, verdef = 0x6ffffffc;
  const struct {
    const char* name;
    std::string value;
    std::string have, elsewhere, hint;
  } cases[] = {
      {"the versions of the family, oldest first", "/r/old.so", "V_1\0V_1.9\0V_1.10\0"s, "", ""},
      {"a library needed, beside the driver", "/opt/v/lib/drv.so", "", "/opt/v/lib/libcore.so\0"s, ""},
      {"the driver itself, in a lib64 beside", "/opt/v/lib/gone.so", "", "/opt/v/lib64/gone.so\0"s, ""},
      {"Setup names the same file", "/opt/x/same.so", "", "", "Driver and Setup name the same file"},
      {"a setup library's name", "libodbcpsqlS.so", "", "", "the name looks like"},
      {"a driver's own name", "libodbcpsql.so", "", "", ""},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files = {
        {"/r/old.so", elf_header(own_class, 1, 3, own_machine, {{needed, "libv.so"}, {verneed, "libv.so V_2"}})},
        {"/e/libv.so", elf_header(own_class, 1, 3, own_machine, {{verdef, "libv.so V_1.10 X_3 V_1 V_1.9"}})},
        {"/opt/v/lib/drv.so", elf_header(own_class, 1, 3, own_machine, {{needed, "libcore.so"}})},
        {"/opt/v/lib/libcore.so", own},
        {"/opt/v/lib64/gone.so", own}};
    fake_os.facts.default_folders = "/e";
    fake_os.settings["D/Setup"] = "/opt/x/same.so";
    fake_driver_key("D", c.value);
    list_options options;
    options.check_library = true;
    loader_state run{};
    library_verdict v;
    package_memory packages{};
    capture([&] { print_driver_file("D", nullptr, options, tab_lines, run, packages, &v); });
    EXPECT_EQ(std::string(v.have, c.have.size() + 1), c.have + '\0') << c.name;
    EXPECT_EQ(std::string(v.elsewhere, c.elsewhere.size() + 1), c.elsewhere + '\0') << c.name;
    EXPECT_EQ(std::string(v.hint).substr(0, c.hint.size()), c.hint) << c.name;
    EXPECT_EQ(v.hint[0] != '\0', !c.hint.empty()) << c.name;
    reset_loader(run);
  }
}

}  // namespace

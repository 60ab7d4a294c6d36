// glibc's loader cache, read as glibc reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "images.h"
#include "loader/ld_cache.h"

namespace {

using namespace std::string_literals;

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
    const cache_file cache = {reinterpret_cast<const unsigned char*>(c.cache.data()), c.cache.size()};
    const bool found = ld_cache_lookup(cache, {.name = c.key, .flags = c.flags, .hwcaps = "x86-64-v4\0x86-64-v3\0"},
                                       path, sizeof path);
    EXPECT_EQ(found ? path : "(none)", std::string(c.path ? c.path : "(none)")) << c.name;
  }
}

}  // namespace

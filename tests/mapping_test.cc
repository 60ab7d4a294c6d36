// The real platform's mapping of a file cut under the run: the reads past
// its new end give zeros, never a crash, and the file is unreadable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "loader/elf_file.h"
#include "loader/glibc.h"
#include "loader/state.h"
#include "process_libc.h"

namespace {

// A copy of this process's C library, to cut.
std::string copy_of_libc() {
  const std::string copy = testing::TempDir() + "quorbel-cut-libc.so.6";
  return std::system(("cp '" + process_libc() + "' '" + copy + "'").c_str()) == 0 ? copy : "";
}

TEST(Mapping, ACutFileReadsAsZerosAndIsUnreadable) {
  const std::string path = copy_of_libc();
  ASSERT_FALSE(path.empty());
  loader_state state{};
  const int index = open_object(&state.objects, path.c_str(), read_elf_object);
  ASSERT_GE(index, 0);
  const wanted malloc_wanted{"malloc", gnu_hash_of("malloc"), nullptr, 0, nullptr, -1, false, false, true};
  EXPECT_EQ(look_in(state, index, malloc_wanted), lookup_found);
  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  EXPECT_EQ(look_in(state, index, malloc_wanted), lookup_file_cut);
  // A file mapped whole, cut before anything is read.
  platform_file file;
  ASSERT_EQ(platform_open_file(path.c_str(), &file), file_opened);
  platform_mapping mapping;
  ASSERT_TRUE(platform_map_file(file, 0, file.size, &mapping));
  ASSERT_EQ(truncate(path.c_str(), 0), 0);
  EXPECT_EQ(mapping.bytes[mapping.size - 1], 0);
  EXPECT_TRUE(platform_mapping_cut(mapping));
  platform_unmap_file(mapping);
  platform_close_file(file);
  reset_loader_state(&state);
  unlink(path.c_str());
}

}  // namespace

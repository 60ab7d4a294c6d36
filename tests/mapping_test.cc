// The real platform's mapping of a file cut under the run: the lookup's
// reads past its new end give zeros, never a crash, and the file is
// unreadable.
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

TEST(Mapping, ACutFileReadsAsZerosAndIsUnreadable) {
  // A copy of this process's C library, to cut.
  const std::string path = testing::TempDir() + "quorbel-cut-libc.so.6";
  ASSERT_EQ(std::system(("cp '" + process_libc() + "' '" + path + "'").c_str()), 0);
  loader_state state{};
  const int index = open_object(&state.objects, path.c_str(), read_elf_object);
  ASSERT_GE(index, 0);
  const wanted malloc_wanted{"malloc", gnu_hash_of("malloc"), nullptr, 0, nullptr, -1, false, false, true};
  EXPECT_EQ(look_in(state, index, malloc_wanted), lookup_found);
  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  EXPECT_EQ(look_in(state, index, malloc_wanted), lookup_file_cut);
  reset_loader_state(&state);
  unlink(path.c_str());
}

}  // namespace

// dyld's search.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "fakes.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(Dyld, SearchesDyldLibraryPathBeforeTheFallback) {
  reset_fakes();
  fake_os.rules = &dyld_rules;
  fake_os.files = {{"/dy/x.dylib", macho(cpu_type_arm64, mh_dylib)}, {"/fb/x.dylib", macho(cpu_type_x86_64, mh_dylib)}};
  fake_os.facts.library_path = "/dy";
  fake_os.facts.default_folders = "/fb";
  if (program_arch() == arch_x64) expect_checks({{"first found", "x.dylib", "mismatch:arm64", "/dy/x.dylib"}});
}

}  // namespace

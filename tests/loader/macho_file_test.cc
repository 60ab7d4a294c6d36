// Which Mach-O files dyld would map, and of which architecture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(MachoFile, ReadsOnlyWhatTheHeadersSay) {
  if (program_arch() != arch_x64) return;
  expect_classified({
      {"Mach-O x86-64 library", macho(0x01000007, 6), format_macho, true, arch_x64},
      {"Mach-O arm64 bundle", macho(0x0100000C, 8), format_macho, true, arch_arm64},
      {"Mach-O program", macho(0x01000007, 2), format_macho, false, arch_other},
      {"universal, this program's slice second", universal({macho(0x0100000C, 6), macho(0x01000007, 6)}), format_macho,
       true, arch_x64},
      {"universal without this program's slice", universal({macho(0x0100000C, 6), macho(12, 6)}), format_macho, true,
       arch_arm64},
      {"universal, its slice cut by a byte", universal({macho(0x0100000C, 6), macho(0x01000007, 6)}, 1), format_macho,
       false, arch_other},
  });
}

}  // namespace

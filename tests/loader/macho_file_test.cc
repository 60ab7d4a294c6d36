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
      {"Mach-O x86-64 library", macho(cpu_type_x86_64, mh_dylib), format_macho, true, arch_x64},
      {"Mach-O arm64 bundle", macho(cpu_type_arm64, mh_bundle), format_macho, true, arch_arm64},
      {"Mach-O program", macho(cpu_type_x86_64, mh_execute), format_macho, false, arch_other},
      {"universal, this program's slice second",
       universal({macho(cpu_type_arm64, mh_dylib), macho(cpu_type_x86_64, mh_dylib)}), format_macho, true, arch_x64},
      {"universal without this program's slice",
       universal({macho(cpu_type_arm64, mh_dylib), macho(cpu_type_arm, mh_dylib)}), format_macho, true, arch_arm64},
      {"universal, its slice cut by a byte",
       universal({macho(cpu_type_arm64, mh_dylib), macho(cpu_type_x86_64, mh_dylib)}, 1), format_macho, false,
       arch_other},
  });
}

}  // namespace

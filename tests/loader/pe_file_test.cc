// What Windows refuses of a PE file before it maps it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(PeFile, ReadsOnlyWhatTheHeadersSay) {
  expect_classified({
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
      // Wine reads a section's data in sectors of 512 bytes, past the file's end as zeros.
      {"PE section data at the file's end", pe(0x8664, dll, 0x80, 0x200), format_pe, false, arch_other},
      {"PE section data's first byte in the file", pe(0x8664, dll, 0x80, 0x201), format_pe, true, arch_x64},
      {"PE x64 with a 32-bit optional header", pe(0x8664, dll, 0x80, 0, 0x10B), format_pe, false, arch_other},
      {"ELF taken for PE", elf(2, 1, 3, 62), format_pe, false, arch_other},
      {"empty", "", format_pe, false, arch_other},
  });
}

}  // namespace

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
      {"PE x86 DLL", pe(image_file_machine_i386, dll), format_pe, true, arch_x86},
      {"PE x64 DLL", pe(image_file_machine_amd64, dll), format_pe, true, arch_x64},
      {"PE arm64 DLL", pe(image_file_machine_arm64, dll), format_pe, true, arch_arm64},
      {"PE arm DLL", pe(image_file_machine_armnt, dll), format_pe, true, arch_arm},
      {"PE Itanium DLL", pe(image_file_machine_ia64, dll), format_pe, true, arch_other},
      {"PE program", pe(image_file_machine_amd64, program), format_pe, false, arch_other},
      {"PE DLL flag without an image", pe(image_file_machine_amd64, image_file_dll), format_pe, false, arch_other},
      {"PE headers far into the file", pe(image_file_machine_amd64, dll, 4072), format_pe, true, arch_x64},
      {"PE section table cut by a byte",
       pe(image_file_machine_amd64, dll, 4073,
          4073 + nt_optional_header + image_sizeof_nt_optional64_header + image_sizeof_section_header - 1),
       format_pe, false, arch_other},
      {"PE offset beyond the file", pe(image_file_machine_amd64, dll, 0xFFFFFFF0u), format_pe, false, arch_other},
      {"PE cut inside the DOS header", pe(image_file_machine_amd64, dll, 0x80, 63), format_pe, false, arch_other},
      {"PE cut inside the COFF header", pe(image_file_machine_amd64, dll, 0x80, 0x80 + nt_optional_header - 1),
       format_pe, false, arch_other},
      // Wine reads a section's data in sectors of 512 bytes, past the file's end as zeros.
      {"PE section data at the file's end", pe(image_file_machine_amd64, dll, 0x80, 0x200), format_pe, false,
       arch_other},
      {"PE section data's first byte in the file", pe(image_file_machine_amd64, dll, 0x80, 0x201), format_pe, true,
       arch_x64},
      {"PE x64 with a 32-bit optional header",
       pe(image_file_machine_amd64, dll, 0x80, 0, image_nt_optional_hdr32_magic), format_pe, false, arch_other},
      {"ELF taken for PE", elf(elfclass64, elfdata2lsb, et_dyn, em_x86_64), format_pe, false, arch_other},
      {"empty", "", format_pe, false, arch_other},
  });
}

}  // namespace

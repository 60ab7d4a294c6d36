// What glibc refuses of an ELF file before it maps it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(ElfFile, ReadsOnlyWhatTheHeadersSay) {
  const std::string pie = elf_header(own_class, 1, 3, own_machine, {{flags_1, "134217728"}});
  const size_t phentsize = own_class == 2 ? 54 : 42, phnum = own_class == 2 ? 56 : 44;
  expect_classified({
      {"ELF x86-64 shared object", elf(2, 1, 3, 62), format_elf, true, arch_x64},
      {"ELF i386 shared object", elf(1, 1, 3, 3), format_elf, true, arch_x86},
      {"ELF aarch64 shared object", elf(2, 1, 3, 183), format_elf, true, arch_arm64},
      {"ELF arm shared object", elf(1, 1, 3, 40), format_elf, true, arch_arm},
      {"ELF x32 shared object", elf(1, 1, 3, 62), format_elf, true, arch_other},
      {"ELF big-endian aarch64", elf(2, 2, 3, 183), format_elf, true, arch_other},
      {"ELF program", elf(2, 1, 2, 62), format_elf, false, arch_other},
      {"ELF relocatable object", elf(2, 1, 1, 62), format_elf, false, arch_other},
      {"ELF 64-bit header cut by a byte", elf(2, 1, 3, 62, 63), format_elf, false, arch_other},
      {"ELF 32-bit header whole", elf(1, 1, 3, 3), format_elf, true, arch_x86},
      {"ELF 32-bit header cut by a byte", elf(1, 1, 3, 3, 51), format_elf, false, arch_other},
      {"ELF of no class", elf(3, 1, 3, 62), format_elf, false, arch_other},
      {"PE taken for ELF", pe(0x8664, dll), format_elf, false, arch_other},
      {"text", "[ODBC]\nDriver=x\n", format_elf, false, arch_other},
      // What glibc refuses of its own class and machine.
      {"GNU OS ABI, ABI version 3", patched(patched(own, 7, 3), 8, 3), format_elf, true, program_arch()},
      {"GNU OS ABI, ABI version 4", patched(patched(own, 7, 3), 8, 4), format_elf, false, arch_other},
      {"System V OS ABI, ABI version 1", patched(own, 8, 1), format_elf, false, arch_other},
      {"another OS ABI", patched(own, 7, 9), format_elf, false, arch_other},
      {"identification version 0", patched(own, 6, 0), format_elf, false, arch_other},
      {"padding not zero", patched(own, 15, 1), format_elf, false, arch_other},
      {"file version 2", patched(own, 20, 2), format_elf, false, arch_other},
      {"program header entries a byte short", patched(own, phentsize, own[phentsize] - 1), format_elf, false,
       arch_other},
      {"no program headers", patched(own, phnum, 0), format_elf, false, arch_other},
      {"program headers past the end", own.substr(0, own_class == 2 ? 64 + 111 : 52 + 63), format_elf, false,
       arch_other},
      {"segment one byte past the end", own.substr(0, own.size() - 1), format_elf, false, arch_other},
      {"position-independent program", pie, format_elf, false, arch_other},
  });
}

}  // namespace

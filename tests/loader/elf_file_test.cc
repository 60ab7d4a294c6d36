// What glibc refuses of an ELF file before it maps it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(ElfFile, ReadsOnlyWhatTheHeadersSay) {
  const std::string pie =
      elf_header(own_class, elfdata2lsb, et_dyn, own_machine, {{dt_flags_1, std::to_string(df_1_pie)}});
  const bool wide = own_class == elfclass64;
  const size_t phentsize = wide ? elf64_e_phentsize : elf32_e_phentsize, phnum = wide ? elf64_e_phnum : elf32_e_phnum;
  const size_t program_headers_end =
      wide ? elf64_ehdr_size + 2 * elf64_phdr_size : elf32_ehdr_size + 2 * elf32_phdr_size;
  expect_classified({
      {"ELF x86-64 shared object", elf(elfclass64, elfdata2lsb, et_dyn, em_x86_64), format_elf, true, arch_x64},
      {"ELF i386 shared object", elf(elfclass32, elfdata2lsb, et_dyn, em_386), format_elf, true, arch_x86},
      {"ELF aarch64 shared object", elf(elfclass64, elfdata2lsb, et_dyn, em_aarch64), format_elf, true, arch_arm64},
      {"ELF arm shared object", elf(elfclass32, elfdata2lsb, et_dyn, em_arm), format_elf, true, arch_arm},
      {"ELF x32 shared object", elf(elfclass32, elfdata2lsb, et_dyn, em_x86_64), format_elf, true, arch_other},
      {"ELF big-endian aarch64", elf(elfclass64, elfdata2msb, et_dyn, em_aarch64), format_elf, true, arch_other},
      {"ELF program", elf(elfclass64, elfdata2lsb, et_exec, em_x86_64), format_elf, false, arch_other},
      {"ELF relocatable object", elf(elfclass64, elfdata2lsb, et_rel, em_x86_64), format_elf, false, arch_other},
      {"ELF 64-bit header cut by a byte", elf(elfclass64, elfdata2lsb, et_dyn, em_x86_64, elf64_ehdr_size - 1),
       format_elf, false, arch_other},
      {"ELF 32-bit header whole", elf(elfclass32, elfdata2lsb, et_dyn, em_386), format_elf, true, arch_x86},
      {"ELF 32-bit header cut by a byte", elf(elfclass32, elfdata2lsb, et_dyn, em_386, elf32_ehdr_size - 1), format_elf,
       false, arch_other},
      {"ELF of no class", elf(elfclass64 + 1, elfdata2lsb, et_dyn, em_x86_64), format_elf, false, arch_other},
      {"PE taken for ELF", pe(image_file_machine_amd64, dll), format_elf, false, arch_other},
      {"text", "[ODBC]\nDriver=x\n", format_elf, false, arch_other},
      // What glibc refuses of its own class and machine.
      {"GNU OS ABI, ABI version 3", patched(patched(own, ei_osabi, elfosabi_gnu), ei_abiversion, 3), format_elf, true,
       program_arch()},
      {"GNU OS ABI, ABI version 4", patched(patched(own, ei_osabi, elfosabi_gnu), ei_abiversion, 4), format_elf, false,
       arch_other},
      {"System V OS ABI, ABI version 1", patched(own, ei_abiversion, 1), format_elf, false, arch_other},
      {"another OS ABI", patched(own, ei_osabi, 9), format_elf, false, arch_other},
      {"identification version 0", patched(own, ei_version, 0), format_elf, false, arch_other},
      {"padding not zero", patched(own, ei_nident - 1, 1), format_elf, false, arch_other},
      {"file version 2", patched(own, e_version, 2), format_elf, false, arch_other},
      {"program header entries a byte short", patched(own, phentsize, own[phentsize] - 1), format_elf, false,
       arch_other},
      {"no program headers", patched(own, phnum, 0), format_elf, false, arch_other},
      {"program headers past the end", own.substr(0, program_headers_end - 1), format_elf, false, arch_other},
      {"segment one byte past the end", own.substr(0, own.size() - 1), format_elf, false, arch_other},
      {"position-independent program", pie, format_elf, false, arch_other},
  });
}

}  // namespace

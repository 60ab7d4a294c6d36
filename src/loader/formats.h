// The numbers of the library formats the readers and loaders use, by the
// names the formats give them (ELF's <elf.h>, PE's <winnt.h>, Mach-O's
// <mach-o/loader.h> and <mach-o/fat.h>, in lower case); the tests' image
// builders use the same. Where a structure's fields lie, they are byte
// offsets from its start; where a class moves them, elf32_ and elf64_ name
// each.
#pragma once

#include <cstdint>

// ELF: the identification (e_ident), where its bytes lie.
enum : uint8_t {
  ei_class = 4,
  ei_data = 5,
  ei_version = 6,
  ei_osabi = 7,
  ei_abiversion = 8,
  ei_pad = 9,
  ei_nident = 16
};
// ELF: classes (EI_CLASS).
enum : uint8_t { elfclass32 = 1, elfclass64 = 2 };
// ELF: byte orders (EI_DATA).
enum : uint8_t { elfdata2lsb = 1, elfdata2msb = 2 };
// ELF: operating system ABIs (EI_OSABI).
enum : uint8_t { elfosabi_sysv = 0, elfosabi_gnu = 3 };
// ELF: the format's version (EI_VERSION, e_version).
enum : uint8_t { ev_current = 1 };

// ELF: the file header's fields (Elf32_Ehdr, Elf64_Ehdr).
enum : uint32_t {
  e_type = 16,
  e_machine = 18,
  e_version = 20,
  elf32_e_phoff = 28,
  elf32_e_phentsize = 42,
  elf32_e_phnum = 44,
  elf64_e_phoff = 32,
  elf64_e_phentsize = 54,
  elf64_e_phnum = 56,
};
// ELF: file types (e_type).
enum : uint16_t { et_rel = 1, et_exec = 2, et_dyn = 3 };
// ELF: machines (e_machine).
enum : uint16_t { em_386 = 3, em_s390 = 22, em_arm = 40, em_x86_64 = 62, em_aarch64 = 183 };

// ELF: a program header's fields (Elf32_Phdr, Elf64_Phdr).
enum : uint32_t {
  p_type = 0,
  elf32_p_offset = 4,
  elf32_p_vaddr = 8,
  elf32_p_filesz = 16,
  elf32_p_memsz = 20,
  elf32_p_flags = 24,
  elf64_p_flags = 4,
  elf64_p_offset = 8,
  elf64_p_vaddr = 16,
  elf64_p_filesz = 32,
  elf64_p_memsz = 40,
};
// ELF: segment types (p_type).
enum : uint32_t { pt_load = 1, pt_dynamic = 2 };
// ELF: segment flags (p_flags).
enum : uint32_t { pf_x = 1, pf_w = 2, pf_r = 4 };

// ELF: the sizes of the structures the readers step through, by class.
enum : uint32_t {
  elf32_ehdr_size = 52,
  elf32_phdr_size = 32,
  elf32_dyn_size = 8,
  elf32_sym_size = 16,
  elf32_rel_size = 8,
  elf32_rela_size = 12,
  elf32_relr_size = 4,
  elf64_ehdr_size = 64,
  elf64_phdr_size = 56,
  elf64_dyn_size = 16,
  elf64_sym_size = 24,
  elf64_rel_size = 16,
  elf64_rela_size = 24,
  elf64_relr_size = 8,
};

// ELF: dynamic section tags (d_tag).
enum : uint64_t {
  dt_null = 0,
  dt_needed = 1,
  dt_pltrelsz = 2,
  dt_hash = 4,
  dt_strtab = 5,
  dt_symtab = 6,
  dt_rela = 7,
  dt_relasz = 8,
  dt_relaent = 9,
  dt_strsz = 10,
  dt_syment = 11,
  dt_soname = 14,
  dt_rpath = 15,
  dt_rel = 17,
  dt_relsz = 18,
  dt_relent = 19,
  dt_pltrel = 20,
  dt_jmprel = 23,
  dt_runpath = 29,
  dt_relr = 36,
  dt_relrent = 37,
  dt_gnu_hash = 0x6ffffef5,
  dt_versym = 0x6ffffff0,
  dt_relacount = 0x6ffffff9,
  dt_relcount = 0x6ffffffa,
  dt_flags_1 = 0x6ffffffb,
  dt_verdef = 0x6ffffffc,
  dt_verdefnum = 0x6ffffffd,
  dt_verneed = 0x6ffffffe,
  dt_verneednum = 0x6fffffff,
};
// ELF: the flags of DT_FLAGS_1.
enum : uint64_t { df_1_noopen = 0x40, df_1_nodeflib = 0x800, df_1_pie = 0x08000000 };

// ELF: symbols (st_info's type and binding, st_other's visibility, the
// special section indices).
enum elf_symbol_type : uint8_t {
  stt_notype = 0,
  stt_object = 1,
  stt_func = 2,
  stt_section = 3,
  stt_file = 4,
  stt_common = 5,
  stt_tls = 6,
  stt_gnu_ifunc = 10,
};
enum elf_symbol_binding : uint8_t { stb_local = 0, stb_global = 1, stb_weak = 2, stb_gnu_unique = 10 };
enum elf_visibility : uint8_t { stv_default = 0, stv_internal = 1, stv_hidden = 2, stv_protected = 3 };
enum : uint16_t { shn_undef = 0, shn_abs = 0xFFF1 };

inline unsigned symbol_type(uint8_t info) { return info & 0xF; }
inline unsigned symbol_binding(uint8_t info) { return info >> 4; }
inline unsigned symbol_visibility(uint8_t other) { return other & 3; }

// ELF: a symbol's fields (Elf32_Sym, Elf64_Sym); st_other and st_shndx
// follow st_info in both.
enum : uint32_t { st_name = 0, elf32_st_value = 4, elf32_st_info = 12, elf64_st_info = 4, elf64_st_value = 8 };

// ELF: a relocation's fields (Elf32_Rel, Elf64_Rela, ...): r_info, after
// r_offset, holds the symbol and the type.
enum : uint32_t { elf32_r_info = 4, elf64_r_info = 8 };
inline uint32_t elf32_r_sym(uint64_t info) { return static_cast<uint32_t>(info >> 8); }
inline uint32_t elf32_r_type(uint64_t info) { return static_cast<uint32_t>(info & 0xFF); }
inline uint32_t elf64_r_sym(uint64_t info) { return static_cast<uint32_t>(info >> 32); }
inline uint32_t elf64_r_type(uint64_t info) { return static_cast<uint32_t>(info); }

// ELF: relocation types of x86-64 (r_x86_64_*).
enum : uint32_t {
  r_x86_64_none = 0,
  r_x86_64_64 = 1,
  r_x86_64_pc32 = 2,
  r_x86_64_copy = 5,
  r_x86_64_glob_dat = 6,
  r_x86_64_jump_slot = 7,
  r_x86_64_relative = 8,
  r_x86_64_32 = 10,
  r_x86_64_dtpmod64 = 16,
  r_x86_64_dtpoff64 = 17,
  r_x86_64_tpoff64 = 18,
  r_x86_64_size32 = 32,
  r_x86_64_size64 = 33,
  r_x86_64_tlsdesc = 36,
  r_x86_64_irelative = 37,
  r_x86_64_relative64 = 38,
};
// ELF: relocation types of i386 (r_386_*).
enum : uint32_t {
  r_386_none = 0,
  r_386_32 = 1,
  r_386_pc32 = 2,
  r_386_copy = 5,
  r_386_glob_dat = 6,
  r_386_jmp_slot = 7,
  r_386_relative = 8,
  r_386_tls_tpoff = 14,
  r_386_tls_dtpmod32 = 35,
  r_386_tls_dtpoff32 = 36,
  r_386_tls_tpoff32 = 37,
  r_386_size32 = 38,
  r_386_tls_desc = 41,
  r_386_irelative = 42,
};
// ELF: relocation types of AArch64 (r_aarch64_*).
enum : uint32_t {
  r_aarch64_none = 0,
  r_aarch64_copy = 1024,
  r_aarch64_glob_dat = 1025,
  r_aarch64_jump_slot = 1026,
  r_aarch64_relative = 1027,
  r_aarch64_tls_dtpmod = 1028,
  r_aarch64_tls_dtprel = 1029,
  r_aarch64_tls_tprel = 1030,
  r_aarch64_tlsdesc = 1031,
  r_aarch64_irelative = 1032,
};

// ELF: a symbol's version index (DT_VERSYM): the index, and the bit that
// hides it from unversioned references; indices 0 and 1 are local and
// global, the file's own versions start at 2.
enum : uint16_t { versym_index = 0x7fff, versym_hidden = 0x8000 };
enum : uint32_t { ver_ndx_local = 0, ver_ndx_global = 1, ver_ndx_first = 2 };

// ELF: a version requirement's fields (Elf32_Verneed, Elf64_Verneed), and
// its size.
enum : uint32_t { vn_version = 0, vn_cnt = 2, vn_file = 4, vn_aux = 8, vn_next = 12, verneed_size = 16 };
// ELF: a version it requires of that file (Elf32_Vernaux, Elf64_Vernaux).
enum : uint32_t { vna_hash = 0, vna_flags = 4, vna_other = 6, vna_name = 8, vna_next = 12, vernaux_size = 16 };
// ELF: a version definition's fields (Elf32_Verdef, Elf64_Verdef).
enum : uint32_t {
  vd_version = 0,
  vd_flags = 2,
  vd_ndx = 4,
  vd_cnt = 6,
  vd_hash = 8,
  vd_aux = 12,
  vd_next = 16,
  verdef_size = 20,
};
// ELF: a defined version's name (Elf32_Verdaux, Elf64_Verdaux).
enum : uint32_t { vda_name = 0, vda_next = 4, verdaux_size = 8 };
// ELF: the revisions of those records glibc knows (vn_version,
// vd_version), and their flags (vna_flags, vd_flags).
enum : uint16_t { ver_need_current = 1, ver_def_current = 1, ver_flg_base = 1, ver_flg_weak = 2 };

// PE: machines (IMAGE_FILE_HEADER's Machine).
enum : uint16_t {
  image_file_machine_i386 = 0x14c,
  image_file_machine_arm = 0x1c0,
  image_file_machine_thumb = 0x1c2,
  image_file_machine_armnt = 0x1c4,
  image_file_machine_ia64 = 0x200,
  image_file_machine_amd64 = 0x8664,
  image_file_machine_arm64 = 0xaa64,
};
// PE: characteristics (IMAGE_FILE_HEADER's Characteristics).
enum : uint16_t { image_file_executable_image = 0x0002, image_file_dll = 0x2000 };
// PE: the optional header's magic, by word size.
enum : uint16_t { image_nt_optional_hdr32_magic = 0x10b, image_nt_optional_hdr64_magic = 0x20b };
// PE: the data directories (IMAGE_DATA_DIRECTORY: an address, a size) by
// index; how many a full optional header has; the size of one.
enum : uint32_t {
  image_directory_entry_export = 0,
  image_directory_entry_import = 1,
  image_directory_entry_resource = 2,
  image_directory_entry_exception = 3,
  image_directory_entry_security = 4,
  image_directory_entry_basereloc = 5,
  image_directory_entry_debug = 6,
  image_directory_entry_architecture = 7,
  image_directory_entry_globalptr = 8,
  image_directory_entry_tls = 9,
  image_directory_entry_load_config = 10,
  image_directory_entry_bound_import = 11,
  image_directory_entry_iat = 12,
  image_directory_entry_delay_import = 13,
  image_directory_entry_com_descriptor = 14,
  image_numberof_directory_entries = 16,
  image_sizeof_data_directory = 8,
};
// PE: where the DOS header (IMAGE_DOS_HEADER) says the signature "PE\0\0" is.
enum : uint32_t { e_lfanew = 0x3c };
// PE: from the signature (IMAGE_NT_HEADERS): the file header's fields, and
// the optional header after them.
enum : uint32_t {
  nt_machine = 4,
  nt_number_of_sections = 6,
  nt_size_of_optional_header = 20,
  nt_characteristics = 22,
  nt_optional_header = 24,
};
// PE: the optional header's fields (IMAGE_OPTIONAL_HEADER32,
// IMAGE_OPTIONAL_HEADER64), the data directories last, and its full size.
enum : uint32_t {
  optional_magic = 0,
  optional_section_alignment = 32,
  optional_file_alignment = 36,
  optional_size_of_image = 56,
  optional_size_of_headers = 60,
  optional32_number_of_rva_and_sizes = 92,
  optional32_data_directory = 96,
  optional64_number_of_rva_and_sizes = 108,
  optional64_data_directory = 112,
  image_sizeof_nt_optional32_header = 224,
  image_sizeof_nt_optional64_header = 240,
};
// PE: a section header's fields (IMAGE_SECTION_HEADER), and its size.
enum : uint32_t {
  section_name = 0,
  section_virtual_size = 8,
  section_virtual_address = 12,
  section_size_of_raw_data = 16,
  section_pointer_to_raw_data = 20,
  image_sizeof_section_header = 40,
};
// PE: an import descriptor's fields (IMAGE_IMPORT_DESCRIPTOR), and its
// size.
enum : uint32_t {
  import_original_first_thunk = 0,
  import_name = 12,
  import_first_thunk = 16,
  image_sizeof_import_descriptor = 20,
};
// PE: the bit of an imported function's thunk that imports it by ordinal
// (the ordinal in the low 16 bits), by word size.
enum : uint64_t { image_ordinal_flag32 = 0x80000000, image_ordinal_flag64 = 0x8000000000000000 };
// PE: the export directory's fields (IMAGE_EXPORT_DIRECTORY), and its size.
enum : uint32_t {
  export_base = 16,
  export_number_of_functions = 20,
  export_number_of_names = 24,
  export_address_of_functions = 28,
  export_address_of_names = 32,
  export_address_of_name_ordinals = 36,
  image_sizeof_export_directory = 40,
};

// Mach-O: CPU types (cputype), 64-bit ones with the ABI's flag.
enum : uint32_t {
  cpu_arch_abi64 = 0x01000000,
  cpu_type_x86 = 7,
  cpu_type_arm = 12,
  cpu_type_x86_64 = cpu_type_x86 | cpu_arch_abi64,
  cpu_type_arm64 = cpu_type_arm | cpu_arch_abi64,
};
// Mach-O: the magics of a thin file (mach_header, mach_header_64) and of a
// universal one (fat_header; fat_arch_64 entries with the second).
enum : uint32_t { mh_magic = 0xfeedface, mh_magic_64 = 0xfeedfacf, fat_magic = 0xcafebabe, fat_magic_64 = 0xcafebabf };
// Mach-O: file types (filetype).
enum : uint32_t { mh_execute = 2, mh_dylib = 6, mh_bundle = 8 };
// Mach-O: a thin file's header's fields (mach_header).
enum : uint32_t { mach_header_cputype = 4, mach_header_filetype = 12 };
// Mach-O: a universal file's header (fat_header: magic, nfat_arch) and its
// entries' fields (fat_arch, fat_arch_64), and their sizes.
enum : uint32_t {
  fat_header_nfat_arch = 4,
  sizeof_fat_header = 8,
  fat_arch_cputype = 0,
  fat_arch_offset = 8,
  fat_arch_size = 12,
  fat_arch_64_offset = 8,
  fat_arch_64_size = 16,
  sizeof_fat_arch = 20,
  sizeof_fat_arch_64 = 32,
};

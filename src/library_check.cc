#include "library_check.h"

#include <cstdint>
#include <cstring>

library_arch program_arch() {
#if defined(__x86_64__) || defined(_M_X64)
  return arch_x64;
#elif defined(__i386__) || defined(_M_IX86)
  return arch_x86;
#elif defined(__aarch64__) || defined(_M_ARM64)
  return arch_arm64;
#elif defined(__arm__) || defined(_M_ARM)
  return arch_arm;
#else
  return arch_other;
#endif
}

static uint16_t u16(const unsigned char* p, bool big_endian) {
  return big_endian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                    : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

static uint32_t u32_le(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// A PE image: the DOS header's last word points at "PE\0\0" and the COFF
// file header, whose machine and characteristics tell the rest.
static bool classify_pe(const unsigned char* bytes, size_t length, library_arch* arch) {
  enum { dos_header = 64, pe_offset_at = 0x3C, coff_end = 24 };
  enum { image_executable = 0x0002, image_dll = 0x2000 };
  if (length < dos_header || bytes[0] != 'M' || bytes[1] != 'Z') return false;
  const uint32_t pe = u32_le(bytes + pe_offset_at);
  if (pe > length || length - pe < coff_end || memcmp(bytes + pe, "PE\0\0", 4) != 0) return false;
  const uint16_t characteristics = u16(bytes + pe + 22, false);
  if ((characteristics & image_dll) == 0 || (characteristics & image_executable) == 0) return false;
  switch (u16(bytes + pe + 4, false)) {
    case 0x014C: *arch = arch_x86; break;
    case 0x8664: *arch = arch_x64; break;
    case 0xAA64: *arch = arch_arm64; break;
    case 0x01C0: case 0x01C2: case 0x01C4: *arch = arch_arm; break;
    default: *arch = arch_other; break;
  }
  return true;
}

// An ELF file: the identification bytes give the class and byte order, the
// header its type and machine. Position-independent programs are shared
// objects too, and pass.
static bool classify_elf(const unsigned char* bytes, size_t length, library_arch* arch) {
  enum { class_32 = 1, class_64 = 2, little_endian = 1, big_endian = 2, shared_object = 3 };
  if (length < 16 || memcmp(bytes, "\x7F" "ELF", 4) != 0) return false;
  const int elf_class = bytes[4];
  const int byte_order = bytes[5];
  if ((elf_class != class_32 && elf_class != class_64) ||
      (byte_order != little_endian && byte_order != big_endian))
    return false;
  if (length < (elf_class == class_64 ? 64u : 52u)) return false;
  const bool big = byte_order == big_endian;
  if (u16(bytes + 16, big) != shared_object) return false;
  const bool wide = elf_class == class_64;
  // Every architecture this tool is built for is little-endian.
  switch (big ? 0 : u16(bytes + 18, big)) {
    case 3: *arch = wide ? arch_other : arch_x86; break;
    case 62: *arch = wide ? arch_x64 : arch_other; break;
    case 183: *arch = wide ? arch_arm64 : arch_other; break;
    case 40: *arch = wide ? arch_other : arch_arm; break;
    default: *arch = arch_other; break;
  }
  return true;
}

bool classify_library(const unsigned char* bytes, size_t length, library_format format,
                      library_arch* arch) {
  return format == format_pe ? classify_pe(bytes, length, arch) : classify_elf(bytes, length, arch);
}

const char* check_library(const char* path) {
  if (!path || path[0] == '\0') return "missing";
  // Long enough for any path the platform can open.
  char found[4096];
  const size_t found_length = platform_find_library(path, found, sizeof found);
  if (found_length == 0) return "missing";
  if (found_length >= sizeof found) return "unreadable";

  // Enough for the DOS stub and PE headers of any ordinary DLL, and for an
  // ELF header.
  unsigned char head[4096];
  const long read = platform_read_file_head(found, head, sizeof head);
  if (read == file_missing) return "missing";
  if (read < 0) return "unreadable";

  library_arch arch = arch_other;
  if (!classify_library(head, static_cast<size_t>(read), platform_library_format(), &arch))
    return "not-a-library";
  if (arch == program_arch()) return "ok";
  switch (arch) {
    case arch_x86: return "mismatch:x86";
    case arch_x64: return "mismatch:x64";
    case arch_arm64: return "mismatch:arm64";
    case arch_arm: return "mismatch:arm";
    case arch_other: break;
  }
  return "mismatch:other";
}

size_t find_in_folders(const char* name, const char* const* folder_lists, size_t list_count,
                       file_readable readable, char* found, size_t cap) {
  const size_t name_length = strlen(name);
  for (size_t list = 0; list < list_count; ++list) {
    if (!folder_lists[list] || !folder_lists[list][0]) continue;
    for (const char* entry = folder_lists[list];; ++entry) {
      const char* end = strchr(entry, ':');
      size_t folder_length = end ? static_cast<size_t>(end - entry) : strlen(entry);
      const char* folder = folder_length ? entry : ".";
      if (!folder_length) folder_length = 1;
      // Folders too long for the buffer cannot be opened anyway.
      if (folder_length + 1 + name_length < cap) {
        memcpy(found, folder, folder_length);
        found[folder_length] = '/';
        memcpy(found + folder_length + 1, name, name_length + 1);
        if (readable(found)) return folder_length + 1 + name_length;
      }
      if (!end) break;
      entry = end;
    }
  }
  found[0] = '\0';
  return 0;
}

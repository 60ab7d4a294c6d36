// Mach-O: which architecture a dynamic library or bundle is for, in a thin
// file or in the slice of a universal one that this program would take.
// What it needs is not followed.
#include "loader/macho_file.h"

#include "loader/formats.h"

namespace {

enum { max_slices = 64 };

library_arch macho_arch(uint32_t cpu) {
  switch (cpu) {
    case cpu_type_x86: return arch_x86;
    case cpu_type_x86_64: return arch_x64;
    case cpu_type_arm: return arch_arm;
    case cpu_type_arm64: return arch_arm64;
  }
  return arch_other;
}

// A thin image at offset: a library, and for which architecture.
void read_thin(binary_file* file, uint64_t offset, loaded_object* object) {
  unsigned char header[16];
  object->state = object_not_a_library;
  if (!read_bytes(file, offset, header, sizeof header)) return;
  file->big_endian = false;
  const uint32_t magic = get32(*file, header);
  if (magic != mh_magic && magic != mh_magic_64) {
    file->big_endian = true;
    if (get32(*file, header) != mh_magic && get32(*file, header) != mh_magic_64) return;
  }
  const uint32_t type = get32(*file, header + mach_header_filetype);
  if (type != mh_dylib && type != mh_bundle) return;
  object->arch = macho_arch(get32(*file, header + mach_header_cputype));
  object->state = object->arch == program_arch() ? object_loadable : object_foreign;
}

}  // namespace

void read_macho_object(binary_file* file, object_table*, loaded_object* object) {
  unsigned char header[sizeof_fat_header];
  object->state = object_not_a_library;
  object->needed_count = 0;
  if (!read_bytes(file, 0, header, sizeof header)) return;
  file->big_endian = true;
  const uint32_t magic = get32(*file, header);
  const uint32_t slices = get32(*file, header + fat_header_nfat_arch);
  // A universal file; Java's class files share its magic, with a version
  // number far above any count of slices.
  if ((magic != fat_magic && magic != fat_magic_64) || slices == 0 || slices > max_slices) {
    read_thin(file, 0, object);
    return;
  }
  const bool wide = magic == fat_magic_64;
  const uint32_t slice_size = wide ? sizeof_fat_arch_64 : sizeof_fat_arch;
  library_arch first = arch_other;
  for (uint32_t i = 0; i < slices; ++i) {
    unsigned char slice[sizeof_fat_arch_64];
    file->big_endian = true;
    if (!read_bytes(file, sizeof_fat_header + i * slice_size, slice, slice_size)) return;
    const library_arch arch = macho_arch(get32(*file, slice + fat_arch_cputype));
    if (i == 0) first = arch;
    if (arch != program_arch()) continue;
    const uint64_t offset = wide ? get64(*file, slice + fat_arch_64_offset) : get32(*file, slice + fat_arch_offset);
    const uint64_t size = wide ? get64(*file, slice + fat_arch_64_size) : get32(*file, slice + fat_arch_size);
    if (offset > file->size || size > file->size - offset) return;
    read_thin(file, offset, object);
    if (object->state == object_foreign) object->state = object_not_a_library;
    return;
  }
  object->arch = first;
  object->state = object_foreign;
}

// Mach-O: which architecture a dynamic library or bundle is for, in a thin
// file or in the slice of a universal one that this program would take.
// What it needs is not followed.
#include "loader/macho_file.h"

namespace {

enum { cpu_x86 = 7, cpu_arm = 12, cpu_64 = 0x01000000, dylib = 6, bundle = 8 };
enum { max_slices = 64 };

library_arch macho_arch(uint32_t cpu) {
  switch (cpu) {
    case cpu_x86: return arch_x86;
    case cpu_x86 | cpu_64: return arch_x64;
    case cpu_arm: return arch_arm;
    case cpu_arm | cpu_64: return arch_arm64;
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
  if (magic != 0xFEEDFACE && magic != 0xFEEDFACF) {
    file->big_endian = true;
    if (get32(*file, header) != 0xFEEDFACE && get32(*file, header) != 0xFEEDFACF) return;
  }
  const uint32_t type = get32(*file, header + 12);
  if (type != dylib && type != bundle) return;
  object->arch = macho_arch(get32(*file, header + 4));
  object->state = object->arch == program_arch() ? object_loadable : object_foreign;
}

}  // namespace

void read_macho_object(binary_file* file, object_table*, loaded_object* object) {
  unsigned char header[8];
  object->state = object_not_a_library;
  object->needed_count = 0;
  if (!read_bytes(file, 0, header, sizeof header)) return;
  file->big_endian = true;
  const uint32_t magic = get32(*file, header);
  const uint32_t slices = get32(*file, header + 4);
  // A universal file; Java's class files share its magic, with a version
  // number far above any count of slices.
  if ((magic != 0xCAFEBABE && magic != 0xCAFEBABF) || slices == 0 || slices > max_slices) {
    read_thin(file, 0, object);
    return;
  }
  const bool wide = magic == 0xCAFEBABF;
  library_arch first = arch_other;
  for (uint32_t i = 0; i < slices; ++i) {
    unsigned char slice[32];
    file->big_endian = true;
    if (!read_bytes(file, 8 + i * (wide ? 32 : 20), slice, wide ? 32 : 20)) return;
    const library_arch arch = macho_arch(get32(*file, slice));
    if (i == 0) first = arch;
    if (arch != program_arch()) continue;
    const uint64_t offset = wide ? get64(*file, slice + 8) : get32(*file, slice + 8);
    const uint64_t size = wide ? get64(*file, slice + 16) : get32(*file, slice + 12);
    if (offset > file->size || size > file->size - offset) return;
    read_thin(file, offset, object);
    if (object->state == object_foreign) object->state = object_not_a_library;
    return;
  }
  object->arch = first;
  object->state = object_foreign;
}

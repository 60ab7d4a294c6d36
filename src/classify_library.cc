// The header checks of each format on bytes in memory, for tests and the
// fuzzer; the tool itself reads files through its loader's rules alone.
#include "library_check.h"

bool classify_library(const unsigned char* bytes, size_t length, library_format format, library_arch* arch) {
  binary_file file;
  memory_file(bytes, length, &file);
  loaded_object object{};
  object.arch = arch_other;
  if (format == format_pe) read_pe_object(&file, &object);
  else if (format == format_elf) read_elf_object(&file, &object);
  else read_macho_object(&file, &object);
  *arch = object.arch;
  return object.state == object_loadable || object.state == object_other_arch || object.state == object_foreign;
}

// The header checks of each format on bytes in memory, for tests and the
// fuzzer; the tool itself reads files through its loader's rules alone.
#include "loader/elf_file.h"
#include "loader/loader.h"
#include "loader/macho_file.h"
#include "loader/pe_file.h"

bool classify_library(const unsigned char* bytes, size_t length, library_format format, library_arch* arch) {
  binary_file file;
  memory_file(bytes, length, &file);
  object_table table{};
  loaded_object object{};
  object.arch = arch_other;
  const object_reader read = format == format_pe    ? read_pe_object
                             : format == format_elf ? read_elf_object
                                                    : read_macho_object;
  read(&file, &table, &object);
  clear_objects(&table);
  *arch = object.arch;
  return object.state == object_loadable || object.state == object_other_arch || object.state == object_foreign;
}

// Images of library files and loader caches, built byte by byte: ELF, PE
// and Mach-O files and glibc's cache, for the loader's tests and the
// fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "loader/formats.h"
#include "loader/loader.h"

// Writes a 16-bit value into bytes at a position, in either byte order.
void put16(std::string* bytes, size_t at, unsigned value, bool big_endian);

// Writes a value of size bytes into bytes at a position, in either order.
void put_word(std::string* bytes, size_t at, uint64_t value, size_t size, bool big_endian);

// The smallest ELF image a loader maps, of a class (elfclass32,
// elfclass64), byte order (elfdata2lsb, elfdata2msb), type (et_dyn: a
// shared object) and machine:
// the header, a segment loading the whole file, and a dynamic section with
// these entries: NEEDED, SONAME, RPATH and RUNPATH name strings; VERNEED
// "FILE VERSION[/FLAGS] ..." and VERDEF "VERSION ..." their tables; "#N
// #N ..." a table of these 32-bit numbers; the others hold a number.
std::string elf_header(int elf_class, int order, unsigned type, unsigned machine,
                       const std::vector<std::pair<uint64_t, std::string>>& dynamic = {});

// A DLL as a linker writes one: DOS header, "PE\0\0" at pe_offset, COFF
// and optional header (the magic of machine's word size unless given) and
// one section at 0x1000 whose data, at the next 512 bytes, ends the file,
// holding an import directory of the DLLs given ("DLL", importing "f",
// "DLL:NAME" or "DLL:#ORDINAL") and an export directory of the names given
// ("NAME>TEXT" a forwarder), from ordinal 1 on; cut to length when given.
std::string pe(unsigned machine, unsigned characteristics, uint32_t pe_offset = 0x80, size_t length = 0,
               unsigned magic = 0, const std::vector<std::string>& imports = {},
               const std::vector<std::string>& exports = {"f"});

std::string elf(int elf_class, int order, unsigned type, unsigned machine, size_t length = 0);

// An API set of a schema: its name (without ".dll"), and its values, each
// the DLL that imports it (empty: any) and the DLL it maps to (empty:
// none), the default first.
struct api_set {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
};

// An API set schema of a version (2, 3, 4 or 6) in its .apiset section, in
// as much of a DLL as its loader reads.
std::string api_set_schema(unsigned version, const std::vector<api_set>& sets);

// The image with one byte changed.
std::string patched(std::string bytes, size_t at, char value);

// A Mach-O header of a CPU and file type (mh_dylib: a dynamic library).
std::string macho(uint32_t cpu, uint32_t type);

// A universal file holding these slices, each whole, one after another.
std::string universal(const std::vector<std::string>& slices, size_t cut = 0);

struct cache_entry {
  uint32_t flags;
  std::string key, value;
  uint64_t hwcap = 0;
};

// A loader cache of the current format, the entries in the order given,
// its strings after them; its byte order flag (2: little, 3: big) and a
// header that claims extra entries. Behind an old-format table with
// old_entries.
std::string ld_cache(const std::vector<cache_entry>& entries, unsigned order = 2, uint32_t extra = 0,
                     bool old_entries = false);

// A cache of the old format alone: its entries, then their strings.
std::string old_ld_cache(const std::vector<cache_entry>& entries);

// ELF shared objects of this program's own kind and of the other class,
// the name of that other architecture, and PE characteristics (flags_1:
// DT_FLAGS_1 by the name tests knew it by).
inline const int own_class = sizeof(void*) == 8 ? elfclass64 : elfclass32;
inline const unsigned own_machine = program_arch() == arch_x64 ? em_x86_64 : em_386;
inline const std::string own = elf(own_class, elfdata2lsb, et_dyn, own_machine);
inline const std::string other = program_arch() == arch_x64 ? elf(elfclass32, elfdata2lsb, et_dyn, em_386)
                                                            : elf(elfclass64, elfdata2lsb, et_dyn, em_x86_64);
inline const char* const other_arch = program_arch() == arch_x64 ? "x86" : "x64";
inline const unsigned dll = image_file_dll | image_file_executable_image, program = image_file_executable_image;
inline const uint64_t flags_1 = dt_flags_1;

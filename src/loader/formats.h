// The numbers of the library formats the readers and loaders use, by the
// names the formats give them; the tests' image builders use the same.
#pragma once

#include <cstdint>

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

// ELF: a symbol's version index (DT_VERSYM): the index, and the bit that
// hides it from unversioned references; indices 0 and 1 are local and
// global, the file's own versions start at 2.
enum : uint16_t { versym_index = 0x7fff, versym_hidden = 0x8000 };
enum : uint32_t { ver_ndx_local = 0, ver_ndx_global = 1, ver_ndx_first = 2 };

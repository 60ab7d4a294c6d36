// The subfolders glibc's loader tries in each folder it searches, from
// what glibc knows of the processor. Includes nothing of the tool, so that
// the platform can ask it and the tests can reach it.
#pragma once

#include <cstddef>

struct processor_facts {
  // The glibc-hwcaps levels the processor supports: x86-64-v4, -v3, -v2.
  bool level[3];
  // glibc before 2.37 also tries the legacy subfolders: "tls", its platform
  // name (the kernel's, or "haswell"/"xeon_phi" for Intel processors that
  // can do enough) and the hwcaps it counts ("avx512_1", "x86_64").
  bool legacy;
  const char* platform;
  bool avx512_1, x86_64;
};

// Writes the subfolders (each ending in '/'), best first and each ended by
// a NUL, in glibc's order with its repetitions (on AMD processors the
// platform and the hwcap are both "x86_64"), then a closing empty entry,
// into out (cap bytes; entries that do not fit are left out).
void glibc_subfolders(const processor_facts& facts, char* out, size_t cap);

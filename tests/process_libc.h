// The path of this process's C library: a real library to read.
#pragma once

#include <dlfcn.h>
#include <gnu/libc-version.h>

#include <string>

inline std::string process_libc() {
  Dl_info info{};
  return dladdr(reinterpret_cast<void*>(&gnu_get_libc_version), &info) && info.dli_fname ? info.dli_fname : "";
}

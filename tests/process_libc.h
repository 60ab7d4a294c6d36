// The path of this process's C library: a real library to read.
#pragma once

#include <link.h>

#include <cstring>
#include <string>

inline std::string process_libc() {
  std::string found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        if (strstr(info->dlpi_name, "/libc.so.6")) *static_cast<std::string*>(out) = info->dlpi_name;
        return 0;
      },
      &found);
  return found;
}

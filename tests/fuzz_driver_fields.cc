// Feeds arbitrary attribute lists, registry values and Windows directories
// to the walk of the attribute list and to the resolution of the library
// path, written as TAB or JSON lines, and the whole input as a library to
// the header checks and the loader's walk in each format, as a loader
// cache to its reader, as text to the JSON escaper, and as a package note,
// its JSON, a Mach-O library and a stanza of dpkg's status to the readers
// of versions. Input: two bytes of attribute length, a byte whose low bit says
// whether the list is whole and whose next bit chooses JSON, then the
// attribute bytes, the Windows directory and the "Driver" value, separated
// by 0xFF bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "attributes.h"
#include "driver_file.h"
#include "fakes.h"
#include "library_check.h"
#include "loader/ld_cache.h"
#include "output/line_writer.h"
#include "package_version.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The output itself is checked by the unit tests; here only safety counts.
  return freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libFuzzer hands over exactly size bytes, so a read past them shows.
  library_arch arch;
  const struct {
    library_format format;
    const loader_rules* rules;
  } kinds[] = {{format_pe, &windows_rules}, {format_elf, &glibc_rules}, {format_macho, &dyld_rules}};
  for (const auto& kind : kinds) {
    classify_library(data, size, kind.format, &arch);
    reset_fakes();
    fake_os.rules = kind.rules;
    fake_os.files["/f/x.so"] = std::string(reinterpret_cast<const char*>(data), size);
    fake_os.facts.default_folders = "/f";
    loader_state run{};
    library_verdict verdict;
    check_library(run, "/f/x.so", "/f/x.so", &verdict);
    reset_loader(run);
  }
  char path[256];
  const unsigned flags[2] = {0x303, 0};
  ld_cache_lookup({data, size}, {.name = "libz.so.1", .flags = flags, .hwcaps = "x86-64-v3\0"}, path, sizeof path);
  write_json_text(reinterpret_cast<const char*>(data), size);
  package_id id;
  binary_file library;
  read_note_json({reinterpret_cast<const char*>(data), size}, &id);
  memory_file(data, size, &library);
  read_package_note(&library, &id);
  read_dylib_version(&library, &id);
  dpkg_stanza stanza{};
  read_stanza_line({reinterpret_cast<const char*>(data), size}, &stanza);

  if (size < 3) return 0;
  const short length = static_cast<short>(data[0] | (data[1] << 8));
  const bool whole = data[2] & 1;
  const line_writer& out = data[2] & 2 ? json_lines : tab_lines;
  const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const size_t first = rest.find('\xff');
  const size_t second = first == std::string::npos ? first : rest.find('\xff', first + 1);

  // The buffer the tool hands to SQLDrivers, cleared before each call.
  char attributes[attributes_capacity + 1] = {};
  const std::string list = rest.substr(0, first);
  memcpy(attributes, list.data(), list.size() < sizeof attributes ? list.size() : sizeof attributes);
  print_attributes(attributes, length, whole, out);

  reset_fakes();
  if (first != std::string::npos) {
    const std::string windows = rest.substr(first + 1, second - first - 1);
    snprintf(windows_dir, sizeof windows_dir, "%s", windows.c_str());
  }
  const std::string value = second == std::string::npos ? rest : rest.substr(second + 1);
  fake_driver_key("Drv", value);
  fake_os.versions[std::string(windows_dir) + value].record = version_record(1, 2, 3, 4);
  list_options options;
  options.show_version = true;
  loader_state run{};
  package_memory packages{};
  library_verdict verdict;
  print_driver_file("Drv", nullptr, options, out, run, packages, &verdict);
  reset_loader(run);
  reset_package_memory(packages);
  return 0;
}

// Linux and macOS: a library's version is what installed the file the
// Driver Manager would load records.
#include "library_check.h"
#include "library_version.h"

void print_library_version(loader_state& run, package_memory& packages, const char* value, const char* expanded,
                           const line_writer& out) {
  char file[4096];
  if (find_library_file(run, value, expanded, file, sizeof file)) print_package_version(packages, file, expanded, out);
}

void forget_library_versions(package_memory& packages) { reset_package_memory(packages); }

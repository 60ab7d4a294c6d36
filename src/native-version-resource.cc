// Windows: a library's version is its version resource's.
#include "library_version.h"
#include "product_version.h"

void print_library_version(loader_state&, package_memory&, const char*, const char* expanded, const line_writer& out) {
  print_product_version(expanded, out);
}

void forget_library_versions(package_memory&) {}

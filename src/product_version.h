// The product version stamped in a library's version resource.
#pragma once

// Writes TAB and the product version as major.minor.build.revision, the
// last three at least two digits wide; nothing when the file has no
// readable version record.
void print_product_version(const char* path);

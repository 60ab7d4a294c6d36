// The product version stamped in a library's version resource.
#pragma once

#include "output/line_writer.h"

// Hands the file's product version to the writer; nothing when the file
// has no readable version record.
void print_product_version(const char* path, const line_writer& out);

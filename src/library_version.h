// A driver library's version as this system records it: on Windows the
// library's version resource, elsewhere what installed the file. The
// program links its own system's (native-version-resource.cc or
// native-version-packages.cc), so that Windows' carries no package reader.
#pragma once

#include "loader/loader.h"
#include "output/line_writer.h"
#include "package_version.h"

// Hands the version of the library of a driver's value to the writer
// (expanded: the value as the tool writes it); what the package databases
// give is kept in packages for the run.
void print_library_version(loader_state& run, package_memory& packages, const char* value, const char* expanded,
                           const line_writer& out);

// Frees what the versions read.
void forget_library_versions(package_memory& packages);

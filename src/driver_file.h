// The path of a driver's library, from the installer's settings of the
// driver, with a leading %WINDIR% token expanded.
#pragma once

// The WINDIR environment variable, read once at start; empty when absent.
extern char windows_dir[260];

// Where the rest of the path starts when value begins with the %WINDIR%
// token (upper case) and more follows it; null otherwise.
const char* after_windir_token(const char* value);

#include "library_check.h"
#include "list_options.h"
#include "output/line_writer.h"
#include "package_version.h"

// Unless brief, hands the library path to the writer, then with
// show_version its version; nothing when the driver has no settings.
// description: null when the Driver Manager cut it. listed_settings: the
// driver's attribute list when it is whole, else null. With check_library,
// checks the library into verdict, in the run; what the versions need of
// the package databases is read once into packages.
void print_driver_file(const char* description, const char* listed_settings, const list_options& options,
                       const line_writer& out, loader_state& run, package_memory& packages, library_verdict* verdict);

// The run: banner, options, usage, and the listing.
#include "command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "driver_file.h"
#include "platform/platform.h"
#include "source_list.h"
#include "version.h"

void print_banner() {
  fputs("quorbel - list of installed ODBC drivers, ", stderr);
  fputs(sizeof(void*) == 8 ? "64 bit:\n" : "32 bit:\n", stderr);
}

void print_usage() {
  fputs("quorbel [-b] [-a] [-v]\n", stderr);
  fputs("  -b - brief mode, data source name without driver name\n", stderr);
  fputs("  -a - show extended driver attributes\n", stderr);
  fputs("  -v - show version of the driver\n", stderr);
  fputs("  -c - check the library of each driver\n", stderr);
  fputs("  -j - write each driver as one JSON object per line\n", stderr);
  fputs("  -d - list the data sources, each with the driver it names\n", stderr);
}

parse_result parse_arguments(int argc, char** argv, list_options* options) {
  bool bad_argument_seen = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    // The two long options every console user tries; any other word after
    // a double dash keeps meaning its first letter, which is '-'.
    if (strcmp(argument, "--help") == 0) return parse_help;
    if (strcmp(argument, "--version") == 0) return parse_version;
    if (argument[0] != '-' && argument[0] != '/') continue;
    // As an unsigned byte: toupper is undefined for negative chars.
    switch (toupper(static_cast<unsigned char>(argument[1]))) {
      case '?':
      case 'H': return parse_help;
      case 'A': options->show_attributes = true; break;
      case 'B': options->brief = true; break;
      case 'V': options->show_version = true; break;
      case 'C': options->check_library = true; break;
      case 'J': options->json_lines = true; break;
      case 'D': options->data_sources = true; break;
      default:
        fputs("Bad argument ", stdout);
        fputs(argument, stdout);
        fputs(". Ignored.\n", stdout);
        bad_argument_seen = true;
        break;
    }
  }
  return bad_argument_seen ? parse_bad_arguments : parse_run;
}

int run_quorbel(int argc, char** argv) {
  print_banner();
  list_options options;
  // A directory too long for the buffer counts as absent, not as a cut path.
  if (platform_read_environment("WINDIR", windows_dir, sizeof windows_dir) >= sizeof windows_dir) windows_dir[0] = '\0';

  switch (parse_arguments(argc, argv, &options)) {
    case parse_help: print_usage(); return status_help_shown;
    case parse_version: fputs("quorbel " QUORBEL_VERSION "\n", stdout); return status_help_shown;
    case parse_bad_arguments: return status_bad_argument;
    case parse_run: break;
  }
  int status = options.data_sources ? list_sources(options) : list_drivers(options);
  // A full disk or a closed stream shows only once the buffer is written
  // out; a cut listing must not pass for a whole one.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fputs("ERROR: could not write to standard output", stderr);
    // The lines a check flagged are lost too.
    if (status == status_listed || status == status_library_problem) status = status_output_lost;
  }
  return status;
}

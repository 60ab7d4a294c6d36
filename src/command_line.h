// The tool's run: banner, options, help, and the listing.
#pragma once

#include "driver_list.h"

// Exit statuses of the command line itself; the listing adds its own.
enum { status_help_shown = 0, status_output_lost = 32, status_bad_argument = 128 };

enum parse_result { parse_run, parse_help, parse_version, parse_bad_arguments };

void print_banner();
void print_usage();

// Walks the arguments after the program path into options, writing a
// notice for each unrecognised one; stops at the first request for help or
// for the version.
parse_result parse_arguments(int argc, char** argv, list_options* options);

// Everything main does; returns the exit status.
int run_quorbel(int argc, char** argv);

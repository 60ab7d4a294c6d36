// The data source listing (-d): one line per data source the ODBC Driver
// Manager reports, user sources first, then system ones.
#pragma once

#include "list_options.h"

// Writes every data source's line to standard output; returns an exit
// status (a library problem where a checked source is not "ok").
int list_sources(const list_options& options);

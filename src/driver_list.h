// The driver listing: one line per driver the ODBC Driver Manager reports.
#pragma once

#include "list_options.h"
#include "platform/odbc.h"

// Exit statuses of a listing.
enum {
  status_listed = 0,
  status_no_environment = 2,
  status_no_odbc_version = 4,
  status_listing_failed = 8,
  status_library_problem = 16,
};

// Valid only while a listing runs.
extern SQLHENV env_handle;

bool odbc_ok(SQLRETURN result);

// Allocates the ODBC environment, sets it for ODBC 3, runs the listing in
// it and frees it: the listing's status, or that of a step that failed.
int list_in_environment(const list_options& options, int (*listing)(const list_options& options));

// Writes every driver's line to standard output; returns an exit status.
int list_drivers(const list_options& options);

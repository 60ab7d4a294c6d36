// Windows' API set schema: the table, in the system folder's
// apisetschema.dll, by which the loader maps a name like
// api-ms-win-core-synch-l1-2-0.dll to the DLL that implements it. The
// layouts of Windows 7 and 8 (version 2 and 3), 8.1 (4) and 10 and later
// (6), read as their loaders read them.
#pragma once

#include <cstddef>

enum api_set_answer {
  api_set_mapped,       // to the DLL written into target
  api_set_empty,        // a set the schema holds, implemented by no DLL
  api_set_not_present,  // no set of this schema: the name is a file's
};

// Looks a DLL name up in a schema (the .apiset section's bytes) for the
// DLL that imports it (host, its file name): the answer, and the target.
// Bytes the schema does not hold answer api_set_not_present.
api_set_answer look_up_api_set(const unsigned char* schema, size_t size, const char* name, const char* host,
                               char* target, size_t cap);

// Whether a name is one an API set may have (api-*, ext-*, any case).
bool may_be_api_set(const char* name);

// Reads the schema out of an apisetschema.dll (its .apiset section): its
// bytes (to be freed) and their size, null where the file holds none.
unsigned char* read_api_set_schema(const unsigned char* dll, size_t dll_size, size_t* size);

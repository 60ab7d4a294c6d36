// glibc's dynamic loader (ld.so) as the loader's rules: its search, the
// names it reads, and what it checks once everything is mapped (symbol
// versions, then every symbol bound). Its jobs are in glibc.h's files.
#include <cstring>

#include "loader/elf_file.h"
#include "loader/glibc.h"

namespace {

// An empty name is the program's own, which glibc has loaded first.
bool program_itself(const char* name) { return name[0] == '\0'; }

bool check_load(loader_state& state, library_verdict* verdict) {
  return check_versions(state, verdict) && bind_symbols(state, verdict);
}

bool has_slash(const char* name) { return strchr(name, '/') != nullptr; }

}  // namespace

const loader_rules glibc_rules = {
    .traits = {.read = read_elf_object, .slash = '/', .ignore_case = false, .stops_at_unopenable = false},
    .is_path = has_slash,
    .spell = nullptr,
    .read_needed = glibc_read_needed,
    .built_in = program_itself,
    .search = glibc_search,
    .check_load = check_load,
    .gives_entry_point = gives_entry_point,
};

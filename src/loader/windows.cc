// Windows' loader (LoadLibrary): where it looks for a DLL and for the DLLs it
// imports, and the names it has without a file.
#include <cstring>

#include "loader/pe_file.h"
#include "loader/rules.h"
#include "platform/platform.h"

namespace {

// Windows' search for a DLL that the entry needs (-1: a bare name the
// Driver Manager loads): with LOAD_WITH_ALTERED_SEARCH_PATH the folder of
// the DLL it loaded by path stands first, in place of the program's; then
// the system folder, the 16-bit system folder, the Windows folder, the
// current folder and PATH.
search_end windows_search(loader_state& state, search* s, int) {
  const loader_facts& f = platform_loader_facts();
  char first[path_capacity], system16[path_capacity];
  if (state.load_count > 0) folder_of(name_at(state, state.load[0].found_as), '\\', first, sizeof first);
  else copy_text(first, f.application_folder ? f.application_folder : "", sizeof first);
  copy_text(system16, f.windows_folder ? f.windows_folder : "", sizeof system16 - 8);
  strcat(system16, "\\system");
  const char* const folders[] = {first, f.system_folder, f.windows_folder ? system16 : nullptr, f.windows_folder, "."};
  for (const char* folder : folders) {
    const folder_list one = {
        .folders = folder, .separators = "", .origin = nullptr, .subfolders = nullptr, .empty_is_current = false};
    const search_end end = folder ? try_folders(state, s, one) : search_on;
    if (end != search_on) return end;
  }
  const folder_list path = {
      .folders = f.path, .separators = ";", .origin = nullptr, .subfolders = nullptr, .empty_is_current = false};
  return f.path ? try_folders(state, s, path) : search_on;
}

// Names that Windows resolves without a file: API sets, and the Visual C++
// 2005 and 2008 runtimes where their side-by-side assembly is installed.
bool resolved_without_file(const char* name) {
  static const char* const api_sets[] = {"api-ms-win-", "ext-ms-"};
  for (const char* prefix : api_sets)
    if (strlen(name) >= strlen(prefix)) {
      char head[16];
      copy_text(head, name, strlen(prefix) + 1);
      if (same_module(head, prefix)) return true;
    }
  static const struct {
    const char* name;
    const char* assembly;
  } runtimes[] = {
      {"msvcr80.dll", "vc80.crt"},  {"msvcp80.dll", "vc80.crt"},    {"msvcm80.dll", "vc80.crt"},
      {"msvcr90.dll", "vc90.crt"},  {"msvcp90.dll", "vc90.crt"},    {"msvcm90.dll", "vc90.crt"},
      {"atl80.dll", "vc80.atl"},    {"atl90.dll", "vc90.atl"},      {"mfc80.dll", "vc80.mfc"},
      {"mfc80u.dll", "vc80.mfc"},   {"mfc90.dll", "vc90.mfc"},      {"mfc90u.dll", "vc90.mfc"},
      {"vcomp.dll", "vc80.openmp"}, {"vcomp90.dll", "vc90.openmp"},
  };
  for (const auto& runtime : runtimes) {
    if (!same_module(name, runtime.name)) continue;
    for (const char* installed = platform_loader_facts().side_by_side; installed && *installed;
         installed += strlen(installed) + 1)
      if (strcmp(installed, runtime.assembly) == 0) return true;
  }
  return false;
}

bool has_folder(const char* name) { return strpbrk(name, "\\/:") != nullptr; }

// LoadLibrary adds ".dll" to a name without an extension.
void spell(char* name, size_t cap) {
  if (!strchr(base_name(name), '.') && strlen(name) + 4 < cap) strcat(name, ".dll");
}

}  // namespace

const loader_rules windows_rules = {
    .read = read_pe_object,
    .slash = '\\',
    .ignore_case = true,
    .stops_at_unopenable = true,
    .is_path = has_folder,
    .spell = spell,
    .read_needed = nullptr,
    .built_in = resolved_without_file,
    .search = windows_search,
    .check_load = nullptr,
    .gives_entry_point = nullptr,
};

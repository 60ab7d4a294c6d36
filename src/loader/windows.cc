// Windows' loader (LoadLibrary): where it looks for a DLL and for the DLLs it
// imports, the API sets it maps to DLLs, the names it has without a file,
// and how it binds each function a DLL imports to an export.
#include <cstdlib>
#include <cstring>

#include "loader/api_sets.h"
#include "loader/pe_file.h"
#include "loader/rules.h"
#include "number_text.h"
#include "platform/platform.h"

namespace {

enum : uint64_t { max_schema_file = 4 << 20 };
// Forwarders followed one from another, beyond which an export is not
// followed (the loaders follow them without end; real chains are two or
// three long).
enum { max_forwards = 16 };

// The folder of the Visual C++ 2005 and 2008 runtime a name is one of,
// where its assembly is installed side by side: Windows finds it there,
// whatever the search, in the newest version (to which the runtimes'
// publisher policy sends older ones), and the file's name there; null for
// any other name.
const char* side_by_side_folder(const char* name, const char** file) {
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
    for (const char* installed = platform_loader_facts().side_by_side; installed && *installed;) {
      const char* folder = installed + strlen(installed) + 1;
      if (strcmp(installed, runtime.assembly) == 0) return *file = runtime.name, folder;
      installed = folder + strlen(folder) + 1;
    }
  }
  return nullptr;
}

// Windows' search for a DLL that the entry needs (-1: a bare name the
// Driver Manager loads): a runtime installed side by side in its folder;
// else, with LOAD_WITH_ALTERED_SEARCH_PATH, the folder of
// the DLL it loaded by path stands first, in place of the program's; then
// the system folder, the 16-bit system folder, the Windows folder, the
// current folder and PATH.
search_end windows_search(loader_state& state, search* s, int) {
  const loader_facts& f = platform_loader_facts(facts_for_search);
  const char* file = nullptr;
  if (const char* folder = side_by_side_folder(s->name, &file)) {
    // Its file, or none that the tool can follow.
    add_to_trail(&state, folder, strlen(folder));
    char path[path_capacity];
    copy_text(path, folder, sizeof path - strlen(file) - 2);
    strcat(strcat(path, "\\"), file);
    const search_end end = try_candidate(state, s, path);
    if (end != search_on) return end;
    s->failure = object_not_followed;
    return search_failed;
  }
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

bool has_folder(const char* name) { return strpbrk(name, "\\/:") != nullptr; }

// The API set schema of the system folder, read once a run. Where there
// is no schema file, this Windows has no API sets and each name is a
// file's; where one cannot be read, a set is not followed.
const windows_memory& schema(loader_state& state) {
  windows_memory& memory = state.windows;
  if (memory.schema_read) return memory;
  memory.schema_read = true;
  const char* system = platform_loader_facts().system_folder;
  char path[path_capacity];
  copy_text(path, system ? system : "", sizeof path - 20);
  strcat(path, "\\apisetschema.dll");
  platform_file file;
  const int opened = system ? platform_open_file(path, &file) : file_missing;
  if (opened == file_missing) return memory;
  memory.schema_unreadable = true;
  if (opened != file_opened) return memory;
  unsigned char* bytes = file.size <= max_schema_file ? static_cast<unsigned char*>(malloc(file.size + 1)) : nullptr;
  if (bytes && platform_read_file(file, 0, bytes, static_cast<size_t>(file.size)))
    memory.schema = read_api_set_schema(bytes, static_cast<size_t>(file.size), &memory.schema_size);
  free(bytes);
  platform_close_file(file);
  memory.schema_unreadable = memory.schema == nullptr;
  return memory;
}

// A name a DLL of the load (entry) imports, as the loader reads it: an API
// set becomes the DLL the schema maps it to for that DLL, or none.
needed_name map_api_set(loader_state& state, int entry, char* name, size_t cap) {
  if (!may_be_api_set(name)) return name_kept;
  const windows_memory& memory = schema(state);
  if (!memory.schema) return memory.schema_unreadable ? name_not_followed : name_kept;
  char target[path_capacity];
  const char* host = entry >= 0 ? base_name(name_at(state, state.load[entry].found_as)) : "";
  switch (look_up_api_set(memory.schema, memory.schema_size, name, host, target, sizeof target)) {
    case api_set_mapped: copy_text(name, target, cap); return name_kept;
    case api_set_empty: return name_missing;
    case api_set_not_present: break;
  }
  return name_kept;
}

enum export_end { export_found, export_missing, export_unread };

// The export a DLL of the load gives for a name (with the hint where it
// should stand among the names) or an ordinal, as the loader finds it:
// the hint, else a binary search of the names (which should be sorted);
// an ordinal less the base; forwarders followed, their DLLs loaded as the
// DLL at entry loads what it imports.
export_end find_export(loader_state& state, int dll, const char* name, uint32_t number, bool by_ordinal, bool hinted,
                       int entry, int depth) {
  const loaded_object& object = object_at(state, dll);
  if (object.symbols_unread || depth > max_forwards) return export_unread;
  if (object.symbols < 0) return export_missing;
  const pe_exports e = state.objects.symbols[object.symbols].pe;
  uint32_t index = number - e.base;
  if (!by_ordinal) {
    int64_t found = -1, low = 0, high = static_cast<int64_t>(e.name_count) - 1;
    if (hinted && number < e.name_count && strcmp(e.strings + e.names[number], name) == 0) found = number;
    while (found < 0 && low <= high) {
      const int64_t middle = (low + high) / 2;
      const int order = strcmp(e.strings + e.names[middle], name);
      if (order == 0) found = middle;
      else if (order > 0) high = middle - 1;
      else low = middle + 1;
    }
    if (found < 0) return export_missing;
    index = e.name_functions[found];
  }
  if (index >= e.function_count || e.functions[index] == 0) return export_missing;
  if (!e.forwarders[index]) return export_found;
  // "DLL.NAME" or "DLL.#ORDINAL", split at the last '.'; a DLL without an
  // extension is a .dll.
  const char* forward = e.strings + e.forwarders[index];
  const char* dot = strrchr(forward, '.');
  if (!dot || static_cast<size_t>(dot - forward) + 5 > path_capacity) return export_missing;
  char module[path_capacity];
  memcpy(module, forward, static_cast<size_t>(dot - forward));
  module[dot - forward] = '\0';
  if (!strchr(module, '.')) strcat(module, ".dll");
  const int target = load_more(state, module, entry);
  if (target < 0) return export_missing;
  if (dot[1] != '#') return find_export(state, target, dot + 1, 0, false, false, entry, depth + 1);
  // The ordinal as atoi reads it.
  const char* digits = dot + 2;
  const bool negative = *digits == '-';
  if (*digits == '-' || *digits == '+') ++digits;
  uint32_t ordinal = 0;
  for (; *digits >= '0' && *digits <= '9'; ++digits) ordinal = ordinal * 10 + static_cast<uint32_t>(*digits - '0');
  return find_export(state, target, "", negative ? 0 - ordinal : ordinal, true, false, entry, depth + 1);
}

// The verdict for an import no export answers: the DLL as the importing DLL
// names it, and the function's name, or its ordinal after '#'.
void missing_procedure(const char* dll, const char* name, uint32_t ordinal, bool by_ordinal, library_verdict* verdict) {
  char number[24] = "#";
  if (by_ordinal) decimal_text(ordinal, 1, number + 1);
  set_verdict(verdict, verdict_missing_procedure, dll, by_ordinal ? number : name);
}

// Windows' binding of every function each DLL of the load imports, DLL
// by DLL in the order of the load, each in its import directory's order.
bool bind_imports(loader_state& state, library_verdict* verdict) {
  for (uint32_t n = 0; n < state.load_count; ++n) {
    const loaded_object object = object_at(state, state.load[n].object);
    if (object.symbols_unread) return blame_entry(state, static_cast<int>(n), verdict_not_followed, verdict), false;
    if (object.symbols < 0) continue;
    const pe_exports e = state.objects.symbols[object.symbols].pe;
    uint32_t offset = object.needed;
    for (uint32_t k = 0; k < e.imported_dll_count && k < object.needed_count; ++k) {
      const char* dll = name_at(state, offset);
      offset += static_cast<uint32_t>(strlen(dll) + 1);
      // Loaded by the walk already; none where Windows has it without a file.
      const int found = load_more(state, dll, static_cast<int>(n));
      for (uint32_t i = e.first_import[k]; found >= 0 && i < e.first_import[k + 1]; ++i) {
        const pe_import& import = e.imports[i];
        const char* name = import.by_ordinal ? "" : e.strings + import.name;
        switch (
            find_export(state, found, name, import.hint_or_ordinal, import.by_ordinal, true, static_cast<int>(n), 0)) {
          case export_found: continue;
          case export_unread: return blame_entry(state, static_cast<int>(n), verdict_not_followed, verdict), false;
          case export_missing: break;
        }
        missing_procedure(dll, name, import.hint_or_ordinal, import.by_ordinal, verdict);
        state.road_end = static_cast<int>(n);
        return false;
      }
    }
  }
  return true;
}

// Whether the Driver Manager's GetProcAddress finds a name among the
// driver's own exports.
bool exports_entry_point(loader_state& state, const char* name, const char*) {
  return find_export(state, state.load[0].object, name, 0, false, false, 0, 0) == export_found;
}

// LoadLibrary adds ".dll" to a name without an extension.
void spell(char* name, size_t cap) {
  if (!strchr(base_name(name), '.') && strlen(name) + 4 < cap) strcat(name, ".dll");
}

}  // namespace

const loader_rules windows_rules = {
    .traits = {.read = read_pe_object, .slash = '\\', .ignore_case = true, .stops_at_unopenable = true},
    .is_path = has_folder,
    .spell = spell,
    .read_needed = map_api_set,
    .built_in = nullptr,
    .search = windows_search,
    .check_load = bind_imports,
    .gives_entry_point = exports_entry_point,
};

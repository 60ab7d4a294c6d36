// The path of a driver's library, its version and its check.
#include "driver_file.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "library_version.h"
#include "loader/paths.h"
#include "platform/platform.h"

char windows_dir[260] = "";

const char* after_windir_token(const char* value) {
  static const char token[] = "%WINDIR%";
  const size_t token_length = sizeof token - 1;
  if (strncmp(value, token, token_length) != 0 || value[token_length] == '\0') return nullptr;
  return value + token_length;
}

// The whole "Driver" value: in buffer when it fits, else in a heap block
// that *spill receives and the caller frees.
static const char* read_driver_value(driver_key key, char* buffer, size_t capacity, char** spill) {
  size_t needed = platform_read_driver_value(key, buffer, capacity);
  // The value may grow between two reads; a few rounds settle it, and the
  // platform leaves a cut but terminated value if they do not.
  for (int round = 0; needed >= capacity && round < 3; ++round) {
    char* larger = static_cast<char*>(malloc(needed + 1));
    if (!larger) break;
    free(*spill);
    *spill = larger;
    capacity = needed + 1;
    needed = platform_read_driver_value(key, larger, capacity);
  }
  return *spill ? *spill : buffer;
}

// head followed by tail, in buffer when it fits, else on the heap; null
// when memory runs out.
static char* join_path(const char* head, const char* tail, char* buffer, size_t capacity) {
  const size_t head_length = strlen(head);
  const size_t tail_length = strlen(tail);
  const size_t needed = head_length + tail_length + 1;
  char* path = needed <= capacity ? buffer : static_cast<char*>(malloc(needed));
  if (path) {
    memcpy(path, head, head_length);
    memcpy(path + head_length, tail, tail_length + 1);
  }
  return path;
}

// A Driver entry that names the driver's setup library, a common slip: the
// Setup entry names the same file, or the name says so ("setup", or the
// capital S before the extension that unixODBC's drivers give their setup
// libraries: libodbcpsqlS.so).
static void note_setup_hint(const char* description, const char* listed_settings, const char* value,
                            library_verdict* verdict) {
  const char* name = value;
  for (const char* at = value; *at; ++at)
    if (*at == '/' || *at == '\\') name = at + 1;
  char setup[1024];
  const bool same = platform_driver_setting(description, listed_settings, "Setup", setup, sizeof setup) &&
                    strcmp(strrchr(setup, '/') ? strrchr(setup, '/') + 1 : setup, name) == 0;
  char lower[256] = "";
  for (size_t i = 0; name[i] && i + 1 < sizeof lower; ++i)
    lower[i] = static_cast<char>(tolower(static_cast<unsigned char>(name[i]))), lower[i + 1] = '\0';
  const char* dot = strchr(name, '.');
  const bool capital_s = dot && dot - name >= 2 && dot[-1] == 'S' && islower(static_cast<unsigned char>(dot[-2]));
  if (same)
    copy_text(
        verdict->hint,
        "Driver and Setup name the same file: if it is the setup library, point Driver at the driver's own library",
        sizeof verdict->hint);
  else if (strstr(lower, "setup") || capital_s)
    copy_text(verdict->hint, "the name looks like a driver's setup library: point Driver at the driver's own library",
              sizeof verdict->hint);
}

void print_driver_file(const char* description, const char* listed_settings, const list_options& options,
                       const line_writer& out, loader_state& run, package_memory& packages, library_verdict* verdict) {
  if (options.check_library) check_library(run, nullptr, nullptr, verdict);
  driver_key key;
  if (!platform_open_driver_key(description, listed_settings, &key)) return;

  char value_buffer[260];
  char* long_value = nullptr;
  const char* value = read_driver_value(key, value_buffer, sizeof value_buffer, &long_value);

  const char* tail = after_windir_token(value);
  const char* head = tail ? windows_dir : "";
  if (!tail) tail = value;
  if (!options.brief) out.library(head, tail);

  const bool show_version = options.show_version && !options.brief;
  if (show_version || options.check_library) {
    char path_buffer[261];
    char* path = join_path(head, tail, path_buffer, sizeof path_buffer);
    if (path && show_version) print_library_version(run, packages, value, path, out);
    if (path && options.check_library) check_library(run, value, path, verdict);
    if (path && options.check_library && verdict->kind == verdict_missing && !verdict->has_subject)
      note_setup_hint(description, listed_settings, value, verdict);
    if (path != path_buffer) free(path);
  }

  free(long_value);
  platform_close_driver_key(key);
}

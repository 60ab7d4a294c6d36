// Windows' search for the DLLs a DLL imports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "fakes.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(Windows, FollowsWhatADllImports) {
  const std::string x64 = pe(image_file_machine_amd64, dll), x86 = pe(image_file_machine_i386, dll);
  const std::vector<std::string> most_imports(4096, "b.dll");
  auto one_more = most_imports;
  one_more.push_back("b.dll");
  const struct {
    const char* name;
    std::vector<std::string> imports;
    std::string word;
  } cases[] = {
      {"beside the driver, before the system folder", {"b.dll"}, "ok"},
      {"in the system folder", {"s.dll"}, "ok"},
      {"a DLL of the load answers in any case", {"b.dll", "B.DLL"}, "ok"},
      {"another architecture found first", {"o.dll"}, "mismatch-dependency:o.dll:x86"},
      {"found nowhere", {"gone"}, "missing-dependency:gone.dll"},
      {"a runtime installed side by side", {"MSVCR90.dll"}, "ok"},
      {"its file not in its folder", {"msvcp80.dll"}, "not-followed-dependency:msvcp80.dll"},
      {"one that is not", {"mfc80.dll"}, "missing-dependency:mfc80.dll"},
      {"in the current folder", {"c.dll"}, "ok"},
      {"in PATH, split at ';' alone", {"p.dll"}, "ok"},
      {"one it may not open ends the search", {"d.dll"}, "unreadable-dependency:d.dll"},
      {"the most DLLs a DLL may import", most_imports, "ok"},
      {"one more is not followed", one_more, "not-followed"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.rules = &windows_rules;
    fake_os.files = {{"C:\\drv\\a.dll", pe(image_file_machine_amd64, dll, 0x80, 0, 0, c.imports)},
                     {"C:\\drv\\b.dll", x64},
                     {"C:\\sys\\b.dll", "text"},
                     {"C:\\sys\\s.dll", x64},
                     {"C:\\drv\\o.dll", x86},
                     {"C:\\sys\\o.dll", x64},
                     {".\\c.dll", x64},
                     {"C:\\path\\p.dll", x64},
                     {"C:\\sys\\d.dll", x64},
                     {"C:\\sxs\\vc90\\msvcr90.dll", x64},
                     {"C:\\drv\\msvcp80.dll", x64}};
    fake_os.denied = {"C:\\drv\\d.dll"};
    fake_os.facts.system_folder = "C:\\sys";
    fake_os.facts.path = "C:\\path";
    fake_os.facts.side_by_side = "vc90.crt\0C:\\sxs\\vc90\0vc80.crt\0C:\\sxs\\vc80\0";
    if (program_arch() == arch_x64) expect_checks({{c.name, "C:\\drv\\a.dll", c.word, "C:\\drv\\a.dll"}});
  }
}

// (Imports of a name a DLL lacks and forwarders to a DLL or a function
// that is not there are judged under Wine, by its loader.)
TEST(Windows, BindsWhatADllImports) {
  const auto exporting = [](std::vector<std::string> names) {
    return pe(image_file_machine_amd64, dll, 0x80, 0, 0, {}, names);
  };
  const std::string schema =
      api_set_schema(6, {{"api-ms-win-core-synch-l1-2-0", {{"", "s.dll"}}}, {"api-ms-win-empty-l1-1-0", {{"", ""}}}});
  const struct {
    const char* name;
    std::vector<std::string> imports;
    std::string word;
    std::vector<std::string> exports = {"SQLAllocHandle"};
    std::string schema_file = "";  // the schema above
  } cases[] = {
      {"a function the DLL exports", {"b.dll:g"}, "ok"},
      {"by ordinal", {"b.dll:#2"}, "ok"},
      {"an ordinal past its last", {"b.dll:#3"}, "missing-procedure:b.dll:#3"},
      {"names out of order", {"u.dll"}, "missing-procedure:u.dll:f"},
      {"forwarded by ordinal", {"z.dll"}, "ok"},
      {"forwarded in a circle", {"c.dll"}, "not-followed"},
      {"forwarded to a DLL whose name holds a dot", {"v.dll"}, "ok"},
      {"16 forwarders, the most followed", {"d0.dll"}, "ok"},
      {"17 forwarders", {"e0.dll"}, "not-followed"},
      {"an API set", {"api-ms-win-core-synch-l1-2-0.dll"}, "ok"},
      {"an API set of no DLL", {"api-ms-win-empty-l1-1-0.dll"}, "missing-dependency:api-ms-win-empty-l1-1-0.dll"},
      {"a name the schema lacks is a file's", {"api-ms-win-other-l1-1-0.dll"}, "ok"},
      {"a schema it cannot read",
       {"api-ms-win-core-synch-l1-2-0.dll"},
       "not-followed-dependency:api-ms-win-core-synch-l1-2-0.dll",
       {"SQLAllocHandle"},
       "text"},
      {"a driver without SQLAllocHandle", {"b.dll"}, "not-a-driver", {"SQLAllocHandlf"}},
      {"SQLAllocEnv will do", {"b.dll"}, "ok", {"SQLAllocEnv"}},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.rules = &windows_rules;
    fake_os.files = {{"C:\\drv\\a.dll", pe(image_file_machine_amd64, dll, 0x80, 0, 0, c.imports, c.exports)},
                     {"C:\\drv\\b.dll", exporting({"f", "g"})},
                     {"C:\\drv\\u.dll", exporting({"g", "f"})},
                     {"C:\\drv\\z.dll", exporting({"f>b.#2"})},
                     {"C:\\drv\\c.dll", exporting({"f>c.f"})},
                     {"C:\\sys\\s.dll", exporting({"f"})},
                     {"C:\\sys\\api-ms-win-other-l1-1-0.dll", exporting({"f"})},
                     {"C:\\sys\\api-ms-win-empty-l1-1-0.dll", exporting({"f"})},
                     {"C:\\sys\\apisetschema.dll", c.schema_file.empty() ? schema : c.schema_file}};
    fake_os.files["C:\\drv\\v.dll"] = exporting({"f>vendor.core.f"});
    fake_os.files["C:\\drv\\vendor.core"] = exporting({"f"});
    for (int i = 0; i <= 17; ++i)
      for (const char chain : {'d', 'e'}) {
        const bool last = i == (chain == 'd' ? 16 : 17);
        const std::string next = std::string(1, chain) + std::to_string(i + 1);
        fake_os.files["C:\\drv\\" + std::string(1, chain) + std::to_string(i) + ".dll"] =
            exporting({last ? "f" : "f>" + next + ".f"});
      }
    fake_os.facts.system_folder = "C:\\sys";
    fake_os.entry_points = std::string("SQLAllocHandle\0SQLAllocEnv", 26);
    if (program_arch() == arch_x64) expect_checks({{c.name, "C:\\drv\\a.dll", c.word, "C:\\drv\\a.dll"}});
  }
}

}  // namespace

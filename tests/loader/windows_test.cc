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
  const std::string x64 = pe(0x8664, dll), x86 = pe(0x014C, dll);
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
      {"an API set", {"api-ms-win-core-synch-l1-2-0.dll"}, "ok"},
      {"a runtime installed side by side", {"MSVCR90.dll"}, "ok"},
      {"one that is not", {"msvcr80.dll"}, "missing-dependency:msvcr80.dll"},
      {"in the current folder", {"c.dll"}, "ok"},
      {"in PATH, split at ';' alone", {"p.dll"}, "ok"},
      {"one it may not open ends the search", {"d.dll"}, "unreadable-dependency:d.dll"},
      {"the most DLLs a DLL may import", most_imports, "ok"},
      {"one more is not followed", one_more, "not-followed"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.rules = &windows_rules;
    fake_os.files = {{"C:\\drv\\a.dll", pe(0x8664, dll, 0x80, 0, 0, c.imports)},
                     {"C:\\drv\\b.dll", x64},
                     {"C:\\sys\\b.dll", "text"},
                     {"C:\\sys\\s.dll", x64},
                     {"C:\\drv\\o.dll", x86},
                     {"C:\\sys\\o.dll", x64},
                     {".\\c.dll", x64},
                     {"C:\\path\\p.dll", x64},
                     {"C:\\sys\\d.dll", x64}};
    fake_os.denied = {"C:\\drv\\d.dll"};
    fake_os.facts.system_folder = "C:\\sys";
    fake_os.facts.path = "C:\\path";
    fake_os.facts.side_by_side = "vc90.crt\0";
    if (program_arch() == arch_x64) expect_checks({{c.name, "C:\\drv\\a.dll", c.word, "C:\\drv\\a.dll"}});
  }
}

}  // namespace

// The library path, the %WINDIR% token and the version.
#include "driver_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "capture.h"
#include "fakes.h"
#include "images.h"
#include "product_version.h"

namespace {

class DriverFile : public testing::Test {
 protected:
  void SetUp() override { reset_fakes(); }

  std::string print(const char* description, bool show_version) {
    list_options options;
    options.show_version = show_version;
    library_verdict verdict;
    loader_state run{};
    package_memory packages{};
    const captured written =
        capture([&] { print_driver_file(description, nullptr, options, tab_lines, run, packages, &verdict); });
    reset_package_memory(packages);
    reset_loader(run);
    EXPECT_EQ(written.err, "");
    EXPECT_EQ(fake_os.open_keys, 0) << "key left open";
    return written.out;
  }
};

TEST_F(DriverFile, ResolvesALeadingWindirToken) {
  const struct {
    const char* windows;
    std::string value;
    std::string path;
  } cases[] = {
      {"C:\\WINDOWS", "%WINDIR%\\system32\\x.dll", "C:\\WINDOWS\\system32\\x.dll"},
      {"C:\\WINDOWS", "%WINDIR%x", "C:\\WINDOWSx"},
      {"C:\\WINDOWS", "%WINDIR%", "%WINDIR%"},
      {"C:\\WINDOWS", "%WINDIR", "%WINDIR"},
      {"C:\\WINDOWS", "%windir%\\x.dll", "%windir%\\x.dll"},
      {"C:\\WINDOWS", "%WinDir%\\x.dll", "%WinDir%\\x.dll"},
      {"C:\\WINDOWS", "C:\\%WINDIR%\\x.dll", "C:\\%WINDIR%\\x.dll"},
      {"C:\\WINDOWS", "%SystemRoot%\\x.dll", "%SystemRoot%\\x.dll"},
      {"C:\\W", "%WINDIR%%WINDIR%\\x.dll", "C:\\W%WINDIR%\\x.dll"},
      {"C:\\W", "%WINDIR%\\100%\\%s%n.dll", "C:\\W\\100%\\%s%n.dll"},
      {"", "%WINDIR%\\system32\\x.dll", "\\system32\\x.dll"},
      {"C:\\W", "", ""},
  };
  for (const auto& c : cases) {
    reset_fakes();
    strcpy(windows_dir, c.windows);
    fake_driver_key("Drv", c.value);
    EXPECT_EQ(print("Drv", true), "\t" + c.path) << c.value;
    EXPECT_EQ(fake_os.version_paths, std::vector<std::string>{c.path}) << c.value;
  }
}

TEST_F(DriverFile, DriverWithoutSettingsWritesNothing) {
  fake_driver_key("Other", "x.dll");
  EXPECT_EQ(print("Drv", true), "");
  EXPECT_TRUE(fake_os.version_paths.empty());
}

TEST_F(DriverFile, MissingOrNonStringValueLeavesTheTabAndAnEmptyPath) {
  fake_os.keys["Drv"] = {};
  EXPECT_EQ(print("Drv", false), "\t");
  fake_os.keys["Drv"] = {fake_registry_value{"garbage", false}};
  EXPECT_EQ(print("Drv", false), "\t");
}

TEST_F(DriverFile, LongValuesAndPathsAreWrittenWhole) {
  const struct {
    const char* name;
    std::string windows;
    std::vector<std::string> reads;  // what each read of the value sees
    std::string path;
  } cases[] = {
      {"value just fits", "", {std::string(259, 'v')}, std::string(259, 'v')},
      {"value one over", "", {std::string(260, 'v')}, std::string(260, 'v')},
      {"value of 600", "", {std::string(600, 'v')}, std::string(600, 'v')},
      {"path just fits", std::string(252, 'w'), {"%WINDIR%\\x.dll"}, std::string(252, 'w') + "\\x.dll"},
      {"path one over", std::string(253, 'w'), {"%WINDIR%\\x.dll"}, std::string(253, 'w') + "\\x.dll"},
      {"longest windows_dir and a long value",
       std::string(259, 'w'),
       {"%WINDIR%" + std::string(500, 'v')},
       std::string(259, 'w') + std::string(500, 'v')},
      {"value grows between reads", "", {std::string(300, 'a'), std::string(400, 'b')}, std::string(400, 'b')},
  };
  for (const auto& c : cases) {
    reset_fakes();
    strcpy(windows_dir, c.windows.c_str());
    for (const std::string& value : c.reads) fake_os.keys["Drv"].push_back({value, true});
    EXPECT_EQ(print("Drv", true), "\t" + c.path) << c.name;
    EXPECT_EQ(fake_os.version_paths, std::vector<std::string>{c.path}) << c.name;
  }
}

TEST_F(DriverFile, ProductVersionFollowsThePath) {
  const struct {
    uint16_t major, minor, build, revision;
    const char* field;
  } cases[] = {
      {3, 520, 12, 0, "\t3.520.12.00"}, {6, 1, 76, 5, "\t6.01.76.05"},
      {10, 0, 0, 1, "\t10.00.00.01"},   {1, 100, 1000, 65535, "\t1.100.1000.65535"},
      {0, 0, 0, 0, "\t0.00.00.00"},     {65535, 9, 10, 99, "\t65535.09.10.99"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_driver_key("Drv", "C:\\x.dll");
    fake_os.versions["C:\\x.dll"].record = version_record(c.major, c.minor, c.build, c.revision);
    EXPECT_EQ(print("Drv", true), std::string("\tC:\\x.dll") + c.field);
    EXPECT_EQ(print("Drv", false), "\tC:\\x.dll");
  }
}

TEST_F(DriverFile, PackageDatabasesAreReadForVersionsAlone) {
  fake_os.version_sources = version_dpkg;
  fake_driver_key("Drv", "/opt/x.so");
  fake_os.files["/opt/x.so"] = own;
  for (const bool show_version : {false, true}) {
    fake_os.opened.clear();
    print("Drv", show_version);
    EXPECT_EQ(std::count(fake_os.opened.begin(), fake_os.opened.end(), "/var/lib/dpkg/status"), show_version);
  }
}

TEST_F(DriverFile, UnreadableVersionDataAddsNoField) {
  const struct {
    const char* name;
    bool present, readable, has_root;
    size_t record_words;
    uint32_t signature;
  } cases[] = {
      {"no version resource", false, true, true, 13, 0xFEEF04BDu},
      {"read fails", true, false, true, 13, 0xFEEF04BDu},
      {"root look-up fails", true, true, false, 13, 0xFEEF04BDu},
      {"record too short", true, true, true, 12, 0xFEEF04BDu},
      {"empty record", true, true, true, 0, 0xFEEF04BDu},
      {"wrong signature", true, true, true, 13, 0xBD04EFFEu},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_driver_key("Drv", "C:\\x.dll");
    if (c.present) {
      fake_version_data& data = fake_os.versions["C:\\x.dll"];
      data.readable = c.readable;
      data.has_root = c.has_root;
      data.record = version_record(1, 2, 3, 4);
      data.record.resize(c.record_words);
      if (c.record_words > 0) data.record[0] = c.signature;
    }
    EXPECT_EQ(print("Drv", true), "\tC:\\x.dll") << c.name;
  }
}

}  // namespace

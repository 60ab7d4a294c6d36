// The driver loop against the fake Driver Manager.
#include "driver_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture.h"
#include "driver_file.h"
#include "fakes.h"
#include "images.h"
#include "library_check.h"

namespace {

using namespace std::string_literals;

class ListDrivers : public testing::Test {
 protected:
  void SetUp() override { reset_fakes(); }

  captured list(list_options options = {}) {
    return capture([&] { status = list_drivers(options); });
  }

  int status = -1;
};

TEST(OdbcOk, AcceptsOnlyTheTwoSuccessCodes) {
  const struct {
    SQLRETURN code;
    bool ok;
  } cases[] = {
      {SQL_SUCCESS, true},         {SQL_SUCCESS_WITH_INFO, true}, {SQL_NO_DATA, false},   {SQL_ERROR, false},
      {SQL_INVALID_HANDLE, false}, {SQL_STILL_EXECUTING, false},  {SQL_NEED_DATA, false},
  };
  for (const auto& c : cases) EXPECT_EQ(odbc_ok(c.code), c.ok) << c.code;
}

TEST_F(ListDrivers, SetUpFailureEndsTheRunBeforeAnyListing) {
  const struct {
    SQLRETURN alloc_result, version_result;
    int status;
    const char* message;
    int free_calls;  // the environment is freed only once it was allocated
  } cases[] = {
      {SQL_ERROR, SQL_SUCCESS, 2, "ERROR: could not allocate environment handle.", 0},
      {SQL_INVALID_HANDLE, SQL_SUCCESS, 2, "ERROR: could not allocate environment handle.", 0},
      {SQL_SUCCESS, SQL_ERROR, 4, "ERROR: could not set ODBC version", 1},
      {SQL_SUCCESS_WITH_INFO, SQL_NO_DATA, 4, "ERROR: could not set ODBC version", 1},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_dm.alloc_result = c.alloc_result;
    fake_dm.version_result = c.version_result;
    fake_dm.drivers = {{"Never listed", "", 0, SQL_SUCCESS}};
    const captured written = list();
    EXPECT_EQ(status, c.status) << c.message;
    EXPECT_EQ(written.err, c.message);
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(fake_dm.free_calls, c.free_calls) << c.message;
    EXPECT_TRUE(fake_dm.directions.empty()) << c.message;
  }
}

TEST_F(ListDrivers, SuccessWithInfoFromSetUpIsSuccess) {
  fake_dm.alloc_result = SQL_SUCCESS_WITH_INFO;
  fake_dm.version_result = SQL_SUCCESS_WITH_INFO;
  fake_dm.drivers = {{"Listed", "", 0, SQL_SUCCESS}};
  const captured written = list();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(written.out, "Listed\n");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fake_dm.odbc_version), uintptr_t{SQL_OV_ODBC3});
}

TEST_F(ListDrivers, NoDriversWritesNothing) {
  const captured written = list();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(written.err, "");
  EXPECT_EQ(fake_dm.free_calls, 1);
  EXPECT_EQ(fake_dm.directions, std::vector<SQLUSMALLINT>{SQL_FETCH_FIRST});
}

TEST_F(ListDrivers, FetchesFirstThenNextWithTheBufferSizes) {
  fake_dm.drivers = {{"One", "", 0, SQL_SUCCESS}, {"Two %s", "", 0, SQL_SUCCESS}};
  const captured written = list();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(written.out, "One\nTwo %s\n");
  EXPECT_EQ(fake_dm.directions, (std::vector<SQLUSMALLINT>{SQL_FETCH_FIRST, SQL_FETCH_NEXT, SQL_FETCH_NEXT}));
  EXPECT_EQ(fake_dm.description_capacities, std::vector<SQLSMALLINT>(3, 255));
  EXPECT_EQ(fake_dm.attributes_capacities, std::vector<SQLSMALLINT>(3, 1023));
  EXPECT_EQ(fake_dm.free_calls, 1);
}

TEST_F(ListDrivers, CutDescriptionNeverFindsAnotherDriversSettings) {
  // The driver named by the first 254 characters has settings of its own.
  const std::string first254(254, 'd');
  fake_driver_key(first254, "/lib/254.so");
  const struct {
    size_t name_length;
    std::string list;
    SQLSMALLINT list_length;
    SQLRETURN result;
    std::string line_after_name, handed_list;
  } cases[] = {
      {254, "A=1\0\0"s, 4, SQL_SUCCESS, "\t/lib/254.so", "A=1"},
      {255, "A=1\0\0"s, 4, SQL_SUCCESS_WITH_INFO, "", "A=1"},
      {300, "B=2\0"s, 1500, SQL_SUCCESS_WITH_INFO, "", "(none)"},
  };
  for (const auto& c : cases) {
    fake_os.listed_settings.clear();
    fake_dm = fake_driver_manager();
    fake_dm.drivers = {{std::string(c.name_length, 'd'), c.list, c.list_length, c.result}};
    EXPECT_EQ(list().out, first254 + c.line_after_name + "\n") << c.name_length;
    EXPECT_EQ(fake_os.listed_settings, std::vector<std::string>{c.handed_list}) << c.name_length;
  }
}

TEST_F(ListDrivers, FailureWhileListingKeepsTheLinesAndEndsWithStatus8) {
  const struct {
    const char* name;
    size_t drivers_before;
    SQLRETURN failure;
  } cases[] = {
      {"first call fails", 0, SQL_ERROR},
      {"third call fails", 2, SQL_ERROR},
      {"invalid handle", 1, SQL_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_dm.drivers.assign(c.drivers_before, {"Drv", "", 0, SQL_SUCCESS});
    fake_dm.end_result = c.failure;
    const captured written = list();
    std::string lines;
    for (size_t i = 0; i < c.drivers_before; ++i) lines += "Drv\n";
    EXPECT_EQ(status, 8) << c.name;
    EXPECT_EQ(written.out, lines) << c.name;
    EXPECT_EQ(written.err, "ERROR: could not list drivers") << c.name;
    EXPECT_EQ(fake_dm.free_calls, 1) << c.name;
  }
}

TEST_F(ListDrivers, LineFieldsFollowTheOptions) {
  const struct {
    const char* name;
    list_options options;
    const char* expected;
  } cases[] = {
      {"default", {false, false, false}, "Sample\tC:\\WINDOWS\\system32\\sample.dll\n"},
      {"attributes", {false, true, false}, "Sample\tC:\\WINDOWS\\system32\\sample.dll\tA=1\tB=2\n"},
      {"version and attributes",
       {false, true, true},
       "Sample\tC:\\WINDOWS\\system32\\sample.dll\t1.02.30.04\tA=1\tB=2\n"},
      {"brief wins", {true, true, true}, "Sample\n"},
      {"check last",
       {false, true, true, true},
       "Sample\tC:\\WINDOWS\\system32\\sample.dll\t1.02.30.04\tA=1\tB=2\tmissing\n"},
      {"brief with check", {true, true, true, true}, "Sample\tmissing\n"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    strcpy(windows_dir, "C:\\WINDOWS");
    fake_dm.drivers = {{"Sample", "A=1\0B=2\0\0"s, 8, SQL_SUCCESS}};
    fake_driver_key("Sample", "%WINDIR%\\system32\\sample.dll");
    fake_os.versions["C:\\WINDOWS\\system32\\sample.dll"].record = version_record(1, 2, 30, 4);
    EXPECT_EQ(list(c.options).out, c.expected) << c.name;
    EXPECT_EQ(fake_os.open_keys, 0) << c.name;
  }
}

TEST_F(ListDrivers, LibraryProblemsEndAWholeListingWith16) {
  const struct {
    const char* name;
    std::vector<std::string> libraries;  // of the listed drivers, in order
    int installed_drivers;
    SQLRETURN end_result;
    int status;
    std::string warning;
    bool check = true;
  } cases[] = {
      {"all ok", {"/ok.so", "/ok.so"}, -1, SQL_NO_DATA, 0, ""},
      {"one missing", {"/ok.so", "/gone.so"}, -1, SQL_NO_DATA, 16, ""},
      {"no settings", {"/ok.so", ""}, -1, SQL_NO_DATA, 16, ""},
      {"all listed", {"/ok.so", "/ok.so"}, 2, SQL_NO_DATA, 0, ""},
      {"more installed than listed",
       {"/ok.so", "/ok.so"},
       3,
       SQL_NO_DATA,
       16,
       "WARNING: the Driver Manager listed 2 of the 3 drivers in odbcinst.ini\n"},
      {"listing failed", {"/ok.so", "/gone.so"}, 3, SQL_ERROR, 8, "ERROR: could not list drivers"},
      {"more installed, without -c", {"/ok.so", "/ok.so"}, 3, SQL_NO_DATA, 0, "", false},
      {"nothing listed", {}, -1, SQL_NO_DATA, 0, "WARNING: no drivers\n"},
      {"nothing listed, without -c", {}, -1, SQL_NO_DATA, 0, "", false},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_os.files["/ok.so"] = program_arch() == arch_x64 ? elf_header(elfclass64, elfdata2lsb, et_dyn, em_x86_64)
                                                         : elf_header(elfclass32, elfdata2lsb, et_dyn, em_386);
    for (size_t i = 0; i < c.libraries.size(); ++i) {
      const std::string name = "D" + std::to_string(i);
      fake_dm.drivers.push_back({name, "", 0, SQL_SUCCESS});
      if (!c.libraries[i].empty()) fake_driver_key(name, c.libraries[i]);
    }
    fake_os.installed_drivers = c.installed_drivers;
    fake_dm.end_result = c.end_result;
    list_options options;
    options.check_library = c.check;
    EXPECT_EQ(list(options).err, c.warning) << c.name;
    EXPECT_EQ(status, c.status) << c.name;
  }
}

TEST_F(ListDrivers, OnlyAWholeListOfThisDriverStandsForItsSettings) {
  const std::string longest(254, 'd');  // may be a longer name, cut
  const std::string shorter(253, 'd');
  fake_dm.drivers = {{"Whole", "Driver=x\0\0"s, 9, SQL_SUCCESS},
                     {"Cut list", "A=1\0\0"s, 1024, SQL_SUCCESS_WITH_INFO},
                     {"Full list", "B=2\0\0"s, 1023, SQL_SUCCESS},
                     {"No total", "E=5\0\0"s, SQL_NO_TOTAL, SQL_SUCCESS_WITH_INFO},
                     {std::string(300, 'n'), "F=6\0\0"s, -1, SQL_SUCCESS_WITH_INFO},
                     {longest, "C=3\0\0"s, 4, SQL_SUCCESS_WITH_INFO},
                     {shorter, "D=4\0\0"s, 4, SQL_SUCCESS}};
  for (const fake_driver& driver : fake_dm.drivers) fake_driver_key(driver.description, "x.dll");
  list();
  EXPECT_EQ(fake_os.listed_settings,
            (std::vector<std::string>{"Driver=x", "(none)", "B=2", "(none)", "(none)", "(none)", "D=4"}));
}

TEST_F(ListDrivers, AttributesOfAnEarlierDriverNeverShow) {
  // The second list is cut and not closed; only what the Driver Manager
  // wrote for that driver may appear.
  fake_dm.drivers = {{"First", "A=1\0B=2\0\0"s, 8, SQL_SUCCESS}, {"Second", "C=3\0"s, 1500, SQL_SUCCESS_WITH_INFO}};
  EXPECT_EQ(list({false, true, false}).out, "First\tA=1\tB=2\nSecond\tC=3\n");
}

}  // namespace

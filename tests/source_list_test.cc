// The data source loop and its checks, against the fakes.
#include "source_list.h"

#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "fakes.h"
#include "images.h"
#include "source_bitness.h"
#include "source_check.h"

namespace {

using namespace std::string_literals;

source_resolution resolved(source_outcome outcome, const char* driver, const char* library = "") {
  source_resolution r{};
  r.outcome = outcome;
  snprintf(r.driver, sizeof r.driver, "%s", driver);
  snprintf(r.library, sizeof r.library, "%s", library);
  return r;
}

TEST(ListSources, UserSourcesFirstEachWithItsWord) {
  reset_fakes();
  fake_os.files["/ok.so"] = own;
  fake_dm.drivers = {{"SQLite3", "", 0, SQL_SUCCESS}, {"Postgres", "", 0, SQL_SUCCESS}};
  fake_dm.sources = {{"sys", "SQLite3", false}, {"mine", "SQLite3", true}, {"typo", "SQLite 3", false},
                     {"none", "", false},        {"wow", "Old", false}};
  fake_os.resolutions = {{"sys", resolved(source_library_found, "SQLite3", "/ok.so")},
                         {"mine", resolved(source_library_found, "SQLite3", "/ok.so")},
                         {"typo", resolved(source_driver_unknown, "sqlite 3")},
                         {"wow", resolved(source_driver_other_bitness, "Old")}};
  fake_os.source_settings = {{"mine", "Driver=SQLite3\0PWD=x\0Auth Token=y\0User=me\0\0"s}};
  list_options options;
  int status = -1;
  options.data_sources = options.check_library = true;
  EXPECT_EQ(capture([&] { status = list_sources(options); }).out,
            "mine\tSQLite3\tok\nsys\tSQLite3\tok\ntypo\tSQLite 3\tunknown-driver\nnone\t\tno-driver\n"
            "wow\tOld\tother-bitness:driver\n");
  EXPECT_EQ(status, 16);
  options.json_lines = true;
  fake_dm.directions.clear();  // the fake lists the drivers again
  const std::string json = capture([&] { list_sources(options); }).out;
  EXPECT_EQ(json.substr(0, json.find('\n') + 1), "{\"dsn\":\"mine\",\"scope\":\"user\",\"driver\":\"SQLite3\",\"library\":\"/ok.so\",\"file\":\"/ok.so\",\"check\":\"ok\"}\n");
  EXPECT_NE(json.find("\"driver\":\"SQLite 3\",\"near\":[\"SQLite3\"],\"check\":\"unknown-driver\""), std::string::npos);
  options = {};
  options.data_sources = options.show_attributes = true;
  const std::string masked = "mine\tSQLite3\tDriver=SQLite3\tPWD=***\tAuth Token=***\tUser=me\n";
  EXPECT_EQ(capture([&] { list_sources(options); }).out.substr(0, masked.size()), masked);
  options.brief = true;
  EXPECT_EQ(capture([&] { status = list_sources(options); }).out, "mine\nsys\ntypo\nnone\nwow\n");
  EXPECT_EQ(status, 0);
}

TEST(NearNames, CaseBlanksAndUpToTwoLetters) {
  const std::string drivers = "SQLite3\0PostgreSQL Unicode\0MySQL\0SQL Server\0\0"s;
  const struct {
    const char* name;
    std::string near;
  } cases[] = {
      {"sqlite3", "SQLite3\0"s},
      {"SQLite 3", "SQLite3\0"s},
      {"SQLit", "SQLite3\0"s},  // case, blank, 2 off
      {"SQLi", ""},
      {"MSQL", "MySQL\0"s},
      {"SQL Servr", "SQL Server\0"s},
  };
  for (const auto& c : cases) {
    char out[256];
    near_names(c.name, drivers.c_str(), out, sizeof out);
    std::string got;
    for (const char* at = out; *at; at += strlen(at) + 1) got += std::string(at) + '\0';
    EXPECT_EQ(got, c.near) << c.name;
  }
}

TEST(SourceBitness, AsWindowsKeepsThem) {
  // user, system, other view's system, library, driver here, driver in the other view
  const struct {
    const char* name;
    registry_facts facts;
    bitness_finding finding;
  } cases[] = {
      {"a user source, its driver here", {true, false, false, true, true, false}, library_here},
      {"a system source of this view", {false, true, false, true, true, true}, library_here},
      {"HKCU shared, its driver the other's", {true, false, false, true, false, true}, driver_other_side},
      {"HKLM redirected, the other's alone", {false, false, true, true, true, true}, source_other_side},
      {"nowhere", {false, false, false, false, false, false}, no_library},
      {"no Driver value", {true, false, false, false, true, false}, no_library},
      {"a driver registered nowhere", {true, false, false, true, false, false}, library_here},
  };
  for (const auto& c : cases) EXPECT_EQ(find_by_bitness(c.facts), c.finding) << c.name;
}

}  // namespace

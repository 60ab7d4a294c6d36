// The command line: options, usage, statuses.
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "driver_file.h"
#include "fakes.h"
#include "version.h"

namespace {

const std::string banner =
    std::string("quorbel - list of installed ODBC drivers, ") + (sizeof(void*) == 8 ? "64 bit:\n" : "32 bit:\n");
const std::string usage =
    "quorbel [-b] [-a] [-v]\n"
    "  -b - brief mode, data source name without driver name\n"
    "  -a - show extended driver attributes\n"
    "  -v - show version of the driver\n"
    "  -c - check the library of each driver\n"
    "  -j - write each driver as one JSON object per line\n"
    "  -d - list the data sources, each with the driver it names\n";

struct run_result {
  captured written;
  int status;
};

run_result run(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "quorbel");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  run_result result;
  result.written = capture([&] { result.status = run_quorbel(static_cast<int>(arguments.size()), argv.data()); });
  return result;
}

class RunQuorbel : public testing::Test {
 protected:
  void SetUp() override {
    reset_fakes();
    fake_dm.drivers = {{"Drv", "", 0, SQL_SUCCESS}};
  }
};

TEST_F(RunQuorbel, ArgumentsDecideTheRun) {
  const struct {
    std::vector<std::string> arguments;
    std::string out;
    std::string err_after_banner;
    int status;
  } cases[] = {
      {{}, "Drv\n", "", 0},
      {{""}, "Drv\n", "", 0},
      {{"word", "x-y"}, "Drv\n", "", 0},
      {{"-?"}, "", usage, 0},
      {{"/?"}, "", usage, 0},
      {{"-help"}, "", usage, 0},
      {{"--help"}, "", usage, 0},
      {{"-x", "--help", "-y"}, "Bad argument -x. Ignored.\n", usage, 0},
      {{"--version", "-x"}, "quorbel " QUORBEL_VERSION "\n", "", 0},
      {{"--Version"}, "Bad argument --Version. Ignored.\n", "", 128},
      {{"--verbose"}, "Bad argument --verbose. Ignored.\n", "", 128},
      {{"--x"}, "Bad argument --x. Ignored.\n", "", 128},
      {{"--helpx"}, "Bad argument --helpx. Ignored.\n", "", 128},
      {{"--helpful"}, "Bad argument --helpful. Ignored.\n", "", 128},
      {{"-version"}, "Drv\n", "", 0},
      {{"/H"}, "", usage, 0},
      {{"--"}, "Bad argument --. Ignored.\n", "", 128},
      {{"-"}, "Bad argument -. Ignored.\n", "", 128},
      {{"/"}, "Bad argument /. Ignored.\n", "", 128},
      {{"-x", "-h"}, "Bad argument -x. Ignored.\n", usage, 0},
      {{"-h", "-x"}, "", usage, 0},
      {{"-x", "-y", "-b"}, "Bad argument -x. Ignored.\nBad argument -y. Ignored.\n", "", 128},
      {{"-%s%n%d"}, "Bad argument -%s%n%d. Ignored.\n", "", 128},
      {{"-\xe1"}, "Bad argument -\xe1. Ignored.\n", "", 128},
      {{"/\xff"}, "Bad argument /\xff. Ignored.\n", "", 128},
      {{"-\xc1x", "-\xe8"}, "Bad argument -\xc1x. Ignored.\nBad argument -\xe8. Ignored.\n", "", 128},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_dm.drivers = {{"Drv", "", 0, SQL_SUCCESS}};
    const run_result result = run(c.arguments);
    const std::string name = c.arguments.empty() ? "(none)" : c.arguments.front();
    EXPECT_EQ(result.status, c.status) << name;
    EXPECT_EQ(result.written.out, c.out) << name;
    EXPECT_EQ(result.written.err, banner + c.err_after_banner) << name;
    // Only a run that lists touches the Driver Manager.
    EXPECT_EQ(fake_dm.alloc_calls, c.out == "Drv\n" ? 1 : 0) << name;
  }
}

TEST(ParseArguments, OptionsOnlyEverSetFlags) {
  const struct {
    std::vector<const char*> arguments;
    bool brief, show_attributes, show_version, check_library = false;
  } cases[] = {
      {{"-c"}, false, false, false, true}, {{"/C"}, false, false, false, true}, {{"-check"}, false, false, false, true},
      {{"-v"}, false, false, true},        {{"-V"}, false, false, true},        {{"/v"}, false, false, true},
      {{"/V"}, false, false, true},        {{"-verbose"}, false, false, true},  {{"-bav"}, true, false, false},
      {{"-b", "-b"}, true, false, false},  {{"-a", "/A"}, false, true, false},  {{"-a", "-v", "/b"}, true, true, true},
  };
  for (const auto& c : cases) {
    std::vector<char*> argv{const_cast<char*>("quorbel")};
    for (const char* argument : c.arguments) argv.push_back(const_cast<char*>(argument));
    list_options options;
    EXPECT_EQ(parse_arguments(static_cast<int>(argv.size()), argv.data(), &options), parse_run);
    EXPECT_EQ(options.brief, c.brief) << c.arguments.front();
    EXPECT_EQ(options.show_attributes, c.show_attributes) << c.arguments.front();
    EXPECT_EQ(options.show_version, c.show_version) << c.arguments.front();
    EXPECT_EQ(options.check_library, c.check_library) << c.arguments.front();
  }
}

TEST_F(RunQuorbel, WindirIsReadOnceForTheWholeRun) {
  const struct {
    const char* name;
    bool set;
    std::string windir;
    std::string expected;
  } cases[] = {
      {"present", true, "C:\\WINDOWS", "Drv\tC:\\WINDOWS\\x.dll\n"},
      {"absent", false, "", "Drv\t\\x.dll\n"},
      {"259 characters", true, std::string(259, 'w'), "Drv\t" + std::string(259, 'w') + "\\x.dll\n"},
      {"260 characters", true, std::string(260, 'w'), "Drv\t\\x.dll\n"},
      {"261 characters", true, std::string(261, 'w'), "Drv\t\\x.dll\n"},
  };
  for (const auto& c : cases) {
    reset_fakes();
    fake_dm.drivers = {{"Drv", "", 0, SQL_SUCCESS}};
    fake_driver_key("Drv", "%WINDIR%\\x.dll");
    if (c.set) fake_os.environment["WINDIR"] = c.windir;
    const run_result result = run({});
    EXPECT_EQ(result.written.out, c.expected) << c.name;
    EXPECT_EQ(result.status, 0) << c.name;
  }
}

}  // namespace

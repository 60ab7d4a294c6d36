// The walk: the word for the file itself, and verdicts remembered for the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check_cases.h"
#include "fakes.h"
#include "images.h"

namespace {

using namespace std::string_literals;

TEST(Loader, NamesWhatIsWrongWithTheFile) {
  reset_fakes();
  fake_os.files = {{"/lib/own.so", own},
                   {"/lib/bare.so", own},
                   {"/lib/text.so", "hello"},
                   {"/lib/program", elf(elfclass64, elfdata2lsb, et_exec, em_x86_64)},
                   {"/lib/arm64.so", elf(elfclass64, elfdata2lsb, et_dyn, em_aarch64)},
                   {"/lib/arm.so", elf(elfclass32, elfdata2lsb, et_dyn, em_arm)},
                   {"/lib/s390.so", elf(elfclass64, elfdata2lsb, et_dyn, em_s390)}};
  fake_os.unreadable = {"/lib/locked.so"};
  fake_os.denied = {"/lib/private.so"};
  fake_os.facts.default_folders = "/lib";
  expect_checks({
      {"own architecture", "/lib/own.so", "ok", "/lib/own.so"},
      {"found by the search", "bare.so", "ok", "/lib/bare.so"},
      {"not found by the search", "nowhere.so", "missing", ""},
      {"no such file", "/lib/gone.so", "missing", ""},
      {"no library value", "", "missing", ""},
      {"cannot be read", "/lib/locked.so", "unreadable", "/lib/locked.so"},
      {"may not be read", "/lib/private.so", "unreadable", "/lib/private.so"},
      {"text", "/lib/text.so", "not-a-library", "/lib/text.so"},
      {"program", "/lib/program", "not-a-library", "/lib/program"},
      {"other architecture", "/lib/arm64.so", program_arch() == arch_arm64 ? "ok" : "mismatch:arm64", "/lib/arm64.so"},
      {"32-bit ARM", "/lib/arm.so", "mismatch:arm", "/lib/arm.so"},
      {"unknown architecture", "/lib/s390.so", "mismatch:other", "/lib/s390.so"},
  });
}

TEST(Loader, RemembersAVerdictByTheFileAndItsFolder) {
  reset_fakes();
  fake_os.files = {{"/one/drv.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine,
                                              {{dt_runpath, "$ORIGIN/deps"}, {dt_needed, "libx.so"}})},
                   {"/one/deps/libx.so", own}};
  fake_os.links = {{"/two/drv.so", "/one/drv.so"}};
  loader_state run{};
  for (const auto& [value, word] : {std::pair{"/one/drv.so", "ok"}, {"/two/drv.so", "missing-dependency:libx.so"}}) {
    library_verdict verdict;
    check_library(run, value, value, &verdict);
    EXPECT_EQ(word_of(verdict), word) << value;
  }
  reset_loader(run);
}

TEST(Loader, GivesTheRoadToAFailureAndThePlacesSearched) {
  reset_fakes();
  fake_os.files = {
      {"/r/drv.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, {{dt_needed, "libmid.so"}})},
      {"/lib/libmid.so", elf_header(own_class, elfdata2lsb, et_dyn, own_machine, {{dt_needed, "libgone.so"}})}};
  fake_os.facts.default_folders = "/lib:/usr/lib";
  loader_state run{};
  // The driver twice (the second time from what the run remembers), then a
  // bare name found nowhere: in the Driver Manager's folders, then in the
  // loader's, each place named once where it was first tried.
  fake_os.first_readable = {"/lib:/lib"};
  for (const std::string value : {"/r/drv.so", "/r/drv.so", "libnone.so"}) {
    library_verdict v;
    check_library(run, value.c_str(), value.c_str(), &v);
    const std::string road = value[0] == '/' ? "/r/drv.so\0/lib/libmid.so\0\0"s : "\0"s;
    EXPECT_EQ(std::string(v.road, road.size()), road) << value;
    EXPECT_EQ(std::string(v.searched, 15), "/lib\0/usr/lib\0\0"s) << value;
  }
  reset_loader(run);
}

}  // namespace

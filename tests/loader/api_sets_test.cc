// The API set schemas of Windows 7 (version 2), 8 (3), 8.1 (4) and 10 (6).
#include "loader/api_sets.h"

#include <gtest/gtest.h>

#include <string>

#include "images.h"

namespace {

TEST(ApiSets, MapsNamesAsEachSchemaVersionDoes) {
  const std::vector<api_set> sets = {{"api-ms-win-core-synch-l1-2-0", {{"", "kernelbase.dll"}}},
                                     {"api-ms-win-core-host-l1-1-0", {{"", "one.dll"}, {"h.dll", "two.dll"}}},
                                     {"api-ms-win-deprecated-l1-1-0", {{"", ""}}},
                                     {"ext-ms-win-extra-l1-1-0", {{"", "extra.dll"}}}};
  const struct {
    unsigned version;
    const char* name;
    const char* host;
    api_set_answer answer;
    const char* target;
  } cases[] = {
      {6, "api-ms-win-core-synch-l1-2-0.dll", "a.dll", api_set_mapped, "kernelbase.dll"},
      {6, "API-MS-WIN-CORE-SYNCH-L1-2-9.DLL", "a.dll", api_set_mapped, "kernelbase.dll"},
      {6, "api-ms-win-core-synch-l1-3-0.dll", "a.dll", api_set_not_present, ""},
      {6, "api-ms-win-core-host-l1-1-0.dll", "a.dll", api_set_mapped, "one.dll"},
      {6, "api-ms-win-core-host-l1-1-0.dll", "H.DLL", api_set_mapped, "two.dll"},
      {6, "api-ms-win-deprecated-l1-1-0.dll", "a.dll", api_set_empty, ""},
      {6, "ext-ms-win-extra-l1-1-0.dll", "a.dll", api_set_mapped, "extra.dll"},
      {4, "api-ms-win-core-synch-l1-2-0.dll", "a.dll", api_set_mapped, "kernelbase.dll"},
      {4, "api-ms-win-core-synch-l1-2-1.dll", "a.dll", api_set_not_present, ""},
      {4, "api-ms-win-core-host-l1-1-0.dll", "h.dll", api_set_mapped, "two.dll"},
      {4, "ext-ms-win-extra-l1-1-0.dll", "a.dll", api_set_mapped, "extra.dll"},
      {3, "api-ms-win-core-synch-l1-2-0.dll", "a.dll", api_set_mapped, "kernelbase.dll"},
      {3, "ext-ms-win-extra-l1-1-0.dll", "a.dll", api_set_mapped, "extra.dll"},  // Windows 8: ext- sets too
      {2, "api-ms-win-core-synch-l1-2-0.dll", "a.dll", api_set_mapped, "kernelbase.dll"},
      {2, "api-ms-win-deprecated-l1-1-0.dll", "a.dll", api_set_empty, ""},
      {2, "ext-ms-win-extra-l1-1-0.dll", "a.dll", api_set_not_present, ""},
  };
  for (const auto& c : cases) {
    const std::string dll = api_set_schema(c.version, sets);
    size_t size = 0;
    unsigned char* schema = read_api_set_schema(reinterpret_cast<const unsigned char*>(dll.data()), dll.size(), &size);
    char target[64] = "";
    EXPECT_EQ(look_up_api_set(schema, size, c.name, c.host, target, sizeof target), c.answer) << c.version << c.name;
    EXPECT_STREQ(c.answer == api_set_mapped ? target : "", c.target) << c.version << c.name;
    free(schema);
  }
}

}  // namespace

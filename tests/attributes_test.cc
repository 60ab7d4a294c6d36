// The attribute fields, entry by entry.
#include "attributes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"

namespace {

using namespace std::string_literals;

struct attributes_case {
  const char* name;
  std::string bytes;
  short length;
  std::string expected;
  bool whole = true;  // as the driver loop judged the list
};

std::string entries_of(char letter, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += std::string(1, letter) + "=" + std::to_string(i) + '\0';
  return list;
}

std::string tabbed(const std::string& list) {
  std::string line;
  for (size_t start = 0; start < list.size();) {
    const size_t end = list.find('\0', start);
    line += "\t" + list.substr(start, end - start);
    start = end + 1;
  }
  return line;
}

TEST(PrintAttributes, WritesEachEntryWithinTheLength) {
  const std::string long_piece(600, 'x');
  const std::string full = entries_of('k', 140);             // 140 entries, about 900 bytes
  const std::string filled = std::string(1021, 'f') + '\0';  // ends at the last byte
  const attributes_case cases[] = {
      {"two entries", "A=1\0B=2\0\0"s, 8, "\tA=1\tB=2"},
      {"last entry left open", "A=1\0B=2\0\0"s, 7, "\tA=1"},
      {"closing NUL inside the length", "A=1\0\0"s, 5, "\tA=1\t"},
      {"empty entry in the middle", "A\0\0B\0"s, 5, "\tA\t\tB"},
      {"length 0", "A=1\0"s, 0, ""},
      {"negative length: cut, up to the closing entry", "A=1\0"s, -1, "\tA=1"},
      {"most negative length", "A=1\0\0B=2\0"s, -32768, "\tA=1"},
      {"percent signs", "%s%n=%d\0"s, 8, "\t%s%n=%d"},
      {"piece over 511 characters", long_piece + '\0', 601, "\t" + long_piece},
      {"untruncated full list", full, static_cast<short>(full.size()), tabbed(full)},
      {"list cut at an entry boundary", full + '\0', 3000, tabbed(full)},
      {"cut list filling the buffer", filled, 1500, "\t" + std::string(1021, 'f')},
      {"cut list never read past 1023 bytes", std::string(1023, 'g') + "Z", 2000, ""},
      {"whole list of exactly 1023 bytes, an empty entry inside", "A=1\0\0"s + std::string(1017, 'b') + '\0', 1023,
       "\tA=1\t\t" + std::string(1017, 'b')},
      {"cut list whose byte 1023 would close an entry", "A=1\0"s + std::string(1019, 'g') + '\0', 2000, "\tA=1"},
      {"wrapped length within the buffer", "A=1\0B=2\0C=3\0\0"s, 4, "\tA=1\tB=2\tC=3", false},
      {"wrapped length 0", "A=1\0\0"s, 0, "\tA=1", false},
  };
  for (const attributes_case& c : cases) {
    std::vector<char> buffer(c.bytes.begin(), c.bytes.end());
    // A cut list comes in the whole buffer the tool hands out, cleared.
    if (!c.whole || c.length < 0 || c.length > attributes_capacity) buffer.resize(attributes_capacity + 1, '\0');
    const captured written = capture([&] { print_attributes(buffer.data(), c.length, c.whole, tab_lines); });
    EXPECT_EQ(written.out, c.expected) << c.name;
    EXPECT_EQ(written.err, "") << c.name;
  }
}

}  // namespace

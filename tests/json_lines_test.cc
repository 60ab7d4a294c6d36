// JSON Lines: the escaper and the line's form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "fakes.h"
#include "output/line_writer.h"

namespace {

using namespace std::string_literals;

TEST(WriteJsonText, EscapesWhatJsonMustAndKeepsEveryByte) {
  const struct {
    const char* name;
    std::string text, written;
  } cases[] = {
      {"plain", "Driver=/x.so", "Driver=/x.so"},
      {"quote and backslash", "a\"b\\c", "a\\\"b\\\\c"},
      {"TAB, CR, LF", "\t\r\n", "\\t\\r\\n"},
      {"backspace, form feed", "\b\f", "\\b\\f"},
      {"other controls", "\x01\x1f"s + '\0', "\\u0001\\u001f\\u0000"},
      {"DEL", "\x7f", "\\u007f"},
      {"two, three and four bytes", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
      {"last code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
      {"past the last code point", "\xf4\x90\x80\x80", "\\udcf4\\udc90\\udc80\\udc80"},
      {"a Latin-1 byte", "Caf\xe9!", "Caf\\udce9!"},
      {"cut sequence at the end", "a\xe2\x82", "a\\udce2\\udc82"},
      {"cut sequence before ASCII", "\xe2\x82z", "\\udce2\\udc82z"},
      {"overlong form", "\xc0\x80\xe0\x80\x80", "\\udcc0\\udc80\\udce0\\udc80\\udc80"},
      {"encoded surrogate", "\xed\xa0\x80", "\\udced\\udca0\\udc80"},
      {"last character before the surrogates", "\xed\x9f\xbf", "\xed\x9f\xbf"},
      {"lone continuation byte", "\x80", "\\udc80"},
      {"overlong, just under U+0800", "\xe0\x9f\xbf", "\\udce0\\udc9f\\udcbf"},
      {"U+0800", "\xe0\xa0\x80", "\xe0\xa0\x80"},
      {"the last surrogate", "\xed\xbf\xbf", "\\udced\\udcbf\\udcbf"},
  };
  for (const auto& c : cases) {
    // Exactly the bytes, no terminator: a read past them shows.
    const std::vector<char> bytes(c.text.begin(), c.text.end());
    const captured written = capture([&] { write_json_text(bytes.data(), bytes.size()); });
    EXPECT_EQ(written.out, c.written) << c.name;
  }
}

TEST(JsonLines, OneObjectPerDriverWithItsMembersInOrder) {
  const captured written = capture([] {
    json_lines.description("D \"1\"");
    json_lines.library("C:\\W", "\\x.dll");
    json_lines.version(1, 2, 30, 4);
    json_lines.attribute("A=1", 3);
    json_lines.attribute("B=2\t", 4);
    json_lines.check("ok", "C:\\W\\x.dll", "", "");
    json_lines.end();
    json_lines.description("Brief");
    json_lines.end();
    json_lines.description("Only attributes");
    json_lines.attribute("", 0);
    json_lines.end();
  });
  EXPECT_EQ(written.out,
            "{\"description\":\"D \\\"1\\\"\",\"library\":\"C:\\\\W\\\\x.dll\",\"version\":"
            "\"1.02.30.04\",\"attributes\":[\"A=1\",\"B=2\\t\"],\"file\":\"C:\\\\W\\\\x.dll\",\"check\":\"ok\"}\n"
            "{\"description\":\"Brief\"}\n"
            "{\"description\":\"Only attributes\",\"attributes\":[\"\"]}\n");
}

}  // namespace

// The subfolders glibc tries, as its own debugging output lists them on
// each kind of processor (LD_DEBUG=libs, glibc 2.36 and 2.37).
#include "glibc_subfolders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(GlibcSubfolders, AsGlibcListsThemOnEachProcessor) {
  const struct {
    const char* name;
    processor_facts facts;
    size_t cap;
    std::string expected;  // joined by ':'
  } cases[] = {
      {"AMD: the platform and the hwcap both x86_64, each twice", {{true, true, true}, true, "x86_64", false, true}, 2048,
       "glibc-hwcaps/x86-64-v4/:glibc-hwcaps/x86-64-v3/:glibc-hwcaps/x86-64-v2/:tls/x86_64/x86_64/:tls/x86_64/:"
       "tls/x86_64/:tls/:x86_64/x86_64/:x86_64/:x86_64/"},
      {"Intel, named haswell", {{false, true, true}, true, "haswell", false, true}, 2048,
       "glibc-hwcaps/x86-64-v3/:glibc-hwcaps/x86-64-v2/:tls/haswell/x86_64/:tls/haswell/:tls/x86_64/:tls/:"
       "haswell/x86_64/:haswell/:x86_64/"},
      {"glibc 2.37: the levels alone", {{false, true, true}, false, "haswell", false, true}, 2048,
       "glibc-hwcaps/x86-64-v3/:glibc-hwcaps/x86-64-v2/"},
      // "tls/x86_64/" and its NUL, then the closing NUL: 13 bytes.
      {"cut where the next entry does not fit", {{false, false, false}, true, nullptr, false, true}, 13, "tls/x86_64/"},
  };
  for (const auto& c : cases) {
    char out[2048];
    glibc_subfolders(c.facts, out, c.cap);
    std::string joined;
    for (const char* at = out; *at; at += strlen(at) + 1) joined += (joined.empty() ? "" : ":") + std::string(at);
    EXPECT_EQ(joined, c.expected) << c.name;
  }
}

}  // namespace

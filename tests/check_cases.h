// Tables of library checks and header checks, run against the fakes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "library_check.h"

// A value checked against a fake file system and what the loader knows.
struct check_case {
  const char* name;
  std::string value;
  std::string word;
  std::string file;  // the file checked
};

inline std::string word_of(const library_verdict& verdict) {
  char word[word_capacity];
  write_word(verdict, word, sizeof word);
  return word;
}

// Checks each value in a run of its own, its files mapped, then read.
inline void expect_checks(const std::vector<check_case>& cases) {
  for (const bool unmappable : {false, true})
    for (const check_case& c : cases) {
      loader_state run{};
      library_verdict verdict;
      fake_os.unmappable = unmappable;
      check_library(run, c.value.c_str(), c.value.c_str(), &verdict);
      fake_os.unmappable = false;
      EXPECT_EQ(word_of(verdict), c.word) << c.name << (unmappable ? " (read)" : "");
      EXPECT_EQ(verdict.file, c.file) << c.name;
      reset_loader(run);
    }
}

// Bytes whose header checks say whether they are a library, and of which
// architecture.
struct classify_case {
  const char* name;
  std::string bytes;
  library_format format;
  bool library;
  library_arch arch;
};

inline void expect_classified(const std::vector<classify_case>& cases) {
  for (const auto& c : cases) {
    library_arch arch = arch_other;
    // A copy of exactly the bytes of the file, so that a read past them shows.
    const std::vector<unsigned char> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(classify_library(bytes.data(), bytes.size(), c.format, &arch), c.library) << c.name;
    if (c.library) {
      EXPECT_EQ(arch, c.arch) << c.name;
    }
  }
}

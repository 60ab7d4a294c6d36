// Runs a piece of the tool and keeps what it wrote to each stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

struct captured {
  std::string out;
  std::string err;
};

template <typename Action>
captured capture(Action action) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  action();
  fflush(stdout);
  fflush(stderr);
  captured result;
  result.out = testing::internal::GetCapturedStdout();
  result.err = testing::internal::GetCapturedStderr();
  return result;
}

// Test support: compares an output with the copy kept beside the tests, naming the first byte where
// they part; VT_UPDATE_GOLDEN=1 writes the output as the new kept copy (then read in review).
#ifndef VT_BASE_CORE_GOLDEN_FILE_TEST_SUPPORT_H_
#define VT_BASE_CORE_GOLDEN_FILE_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

inline void expect_as_kept(const std::string &got, const std::string &path) {
  if (getenv("VT_UPDATE_GOLDEN")) std::ofstream(path, std::ios::binary) << got;
  std::stringstream kept;
  kept << std::ifstream(path, std::ios::binary).rdbuf();
  std::string want = kept.str();
  ASSERT_FALSE(want.empty()) << path << " is missing or empty";
  size_t at = static_cast<size_t>(
      std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin());
  size_t from = at > 80 ? at - 80 : 0;
  EXPECT_TRUE(got == want) << path << ": first difference at byte " << at << " (of " << got.size()
                           << ", kept " << want.size() << ")\n  made: " << got.substr(from, 160)
                           << "\n  kept: " << want.substr(std::min(from, want.size()), 160);
}

#endif  // VT_BASE_CORE_GOLDEN_FILE_TEST_SUPPORT_H_

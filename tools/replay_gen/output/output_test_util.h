// Small file helpers for the tests of the output stages.
#ifndef VT_REPLAY_GEN_OUTPUT_OUTPUT_TEST_UTIL_H_
#define VT_REPLAY_GEN_OUTPUT_OUTPUT_TEST_UTIL_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// A fresh directory under /tmp; the caller removes it.
inline std::string make_temp_dir() {
  char templ[] = "/tmp/vt_output_test.XXXXXX";
  return mkdtemp(templ);
}

inline std::string read_text(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Writes text to path, making the directories above it.
inline void write_text(const std::string &path, const std::string &text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

#endif  // VT_REPLAY_GEN_OUTPUT_OUTPUT_TEST_UTIL_H_

// File helpers of the tests and fuzz cases.
#ifndef VT_REPLAY_GEN_TEST_FILES_H_
#define VT_REPLAY_GEN_TEST_FILES_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// A fresh directory under /tmp; the caller removes it (remove_dir).
inline std::string make_temp_dir() {
  char templ[] = "/tmp/vt_test.XXXXXX";
  return mkdtemp(templ);
}
inline void remove_dir(const std::string &dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
inline std::string read_text(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}
// Writes text to path, making the directories above it; returns path.
inline std::string write_text(const std::string &path, const std::string &text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  return path;
}
// A file's lines, without their line ends.
inline std::vector<std::string> file_lines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

#endif  // VT_REPLAY_GEN_TEST_FILES_H_

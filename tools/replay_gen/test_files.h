// File helpers of the tests and fuzz cases.
#ifndef VT_REPLAY_GEN_TEST_FILES_H_
#define VT_REPLAY_GEN_TEST_FILES_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

// Text with C escapes (\n \r \t \\ \xHH) and repeats ({c*N}: N times c)
// expanded.
inline std::string unescape(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    size_t star = text.compare(i, 1, "{") == 0 ? text.find('*', i) : std::string::npos;
    if (star == i + 2 && text.find('}', star) != std::string::npos) {
      size_t end = text.find('}', star);
      out.append(std::stoul(text.substr(star + 1, end - star - 1)), text[i + 1]);
      i = end;
    } else if (c != '\\' || i + 1 == text.size()) {
      out += c;
    } else if (text[++i] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      const char *from = "nrt0", *to = "\n\r\t";
      const char *at = strchr(from, text[i]);
      out += at ? (*at == '0' ? '\0' : to[at - from]) : text[i];
    }
  }
  return out;
}

// The cases of a data file: one a line, fields separated by tabs, each
// unescaped; empty lines and lines beginning with "#" are left out.
inline std::vector<std::vector<std::string>> read_cases(const std::string &path) {
  std::vector<std::vector<std::string>> cases;
  for (const std::string &line : file_lines(path)) {
    if (line.empty() || line[0] == '#') continue;
    cases.emplace_back();
    for (size_t at = 0;;) {
      size_t tab = line.find('\t', at);
      cases.back().push_back(unescape(line.substr(at, tab - at)));
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
  }
  if (cases.empty()) fprintf(stderr, "no cases in %s\n", path.c_str()), abort();
  return cases;
}

#endif  // VT_REPLAY_GEN_TEST_FILES_H_

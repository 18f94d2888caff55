// Run-wide state for the loader tests: a clean slate, a temp directory,
// configured services and input files set directly.
#ifndef VT_REPLAY_GEN_LOADER_LOADER_TEST_SUPPORT_H_
#define VT_REPLAY_GEN_LOADER_LOADER_TEST_SUPPORT_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/run_state.h"

namespace loader_test {

// Starts from a fresh run state whose replay_dir is a fresh temp directory
// (returned).
inline std::string reset_run_state() {
  run = RunState{};
  set_vt_exit_hook(nullptr);
  char dir[] = "/tmp/vt_loader_test_XXXXXX";
  if (!mkdtemp(dir)) abort();
  snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s", dir);
  return dir;
}

inline void remove_dir(const std::string &dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

inline int add_configured_service(const char *name, const char *url, const char *tag) {
  uint16_t row = 0;
  create_table_entry(&row, &run.services.total_services, &run.services.max_services,
                     reinterpret_cast<char **>(&run.services.service_map_ptr), sizeof(ServiceMap),
                     "Service name");
  ServiceMap &e = run.services.service_map_ptr[row] = {};
  e.service_name = strdup(name);
  e.url = strdup(url);
  e.url_len = static_cast<int32_t>(strlen(url));
  snprintf(e.indexing_tag, sizeof e.indexing_tag, "%s", tag);
  run.services.num_service_file++;
  return row;
}

inline std::string write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void add_input_file(const std::string &path) {
  run.files.seq_file_path = static_cast<InputFileInfo *>(
      realloc(run.files.seq_file_path, (run.files.num_seq_files + 1) * sizeof(InputFileInfo)));
  run.files.seq_file_path[run.files.num_seq_files] = InputFileInfo{};
  run.files.seq_file_path[run.files.num_seq_files].input_file = strdup(path.c_str());
  run.files.max_seq_files = ++run.files.num_seq_files;
}

// Lines of a file, without their line ends.
inline std::vector<std::string> file_lines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace loader_test

#endif  // VT_REPLAY_GEN_LOADER_LOADER_TEST_SUPPORT_H_

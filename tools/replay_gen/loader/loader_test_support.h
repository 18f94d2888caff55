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
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/services/service_map.h"

namespace loader_test {

inline void free_input_files() {
  for (int i = 0; i < num_seq_files; i++) free(seq_file_path[i].input_file);
  free(seq_file_path);
  seq_file_path = nullptr;
  num_seq_files = max_seq_files = 0;
  free_file_seq = 0;
}

// Puts every run-wide value the loader reads back to its initial value and
// makes replay_dir a fresh temp directory (returned).
inline std::string reset_run_state() {
  free_service_table();
  free_input_files();
  free(seq_data_arr);
  seq_data_arr = nullptr;
  g_msgcount = g_valid_msgcount = g_invalid_request = g_ignore_request = 0;
  g_no_xacustid_messages = g_empty_xacustid_messages = 0;
  g_msgcount_per_file = 20000;
  g_num_thread = 0;
  start_time_stamp = end_time_stamp = 0;
  ignore_header = svc_id_uses_url = do_parameterization = commentry_req_count = num_vvm = 0;
  svc_id_uses_svc_name = info_level = error_level = 1;
  debug_level = 0;
  snprintf(host_name, sizeof host_name, "127.0.0.1");
  set_vt_exit_hook(nullptr);
  char dir[] = "/tmp/vt_loader_test_XXXXXX";
  if (!mkdtemp(dir)) abort();
  snprintf(replay_dir, sizeof replay_dir, "%s", dir);
  return dir;
}

inline void remove_dir(const std::string &dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

inline int add_configured_service(const char *name, const char *url, const char *tag) {
  uint16_t row = 0;
  create_table_entry(&row, &total_services, &max_services,
                     reinterpret_cast<char **>(&service_map_ptr), sizeof(ServiceMap),
                     "Service name");
  ServiceMap &e = service_map_ptr[row] = {};
  e.service_name = strdup(name);
  e.url = strdup(url);
  e.url_len = static_cast<int32_t>(strlen(url));
  snprintf(e.indexing_tag, sizeof e.indexing_tag, "%s", tag);
  num_service_file++;
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
  seq_file_path = static_cast<InputFileInfo *>(
      realloc(seq_file_path, (num_seq_files + 1) * sizeof(InputFileInfo)));
  seq_file_path[num_seq_files].input_file = strdup(path.c_str());
  seq_file_path[num_seq_files].msgcount = 0;
  max_seq_files = ++num_seq_files;
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

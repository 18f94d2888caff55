// Test support: puts back the run-wide state the configuration sets, and
// runs code that may end the run.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tools/replay_gen/config/config_value.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/records.h"

inline void free_text(char **text, int32_t *len) {
  free(*text);
  *text = nullptr;
  *len = 0;
}

inline void reset_config_state() {
  strcpy(replay_dir, "");
  strcpy(scenario_name, "");
  strcpy(script_name, "");
  strcpy(host_name, "127.0.0.1");
  strcpy(host_hdr, "Host: 127.0.0.1");
  strcpy(input_dir, "");
  strcpy(http_version, "1.0");
  strcpy(script_type, "C");
  free_text(&http_header, &http_header_len);
  free_text(&req_top_line, &req_top_line_len);
  free_text(&scenario_keyword, &scenario_keyword_len);
  start_time_stamp = end_time_stamp = 0;
  ignore_header = 0;
  new_user_time = 1800000;
  g_msgcount_per_file = 20000;
  num_vvm = 0;
  run_forcefully = 0;
  debug_level = 0;
  info_level = error_level = 1;
  for (int i = 0; i < total_services; i++) {
    free(service_map_ptr[i].service_name);
    free(service_map_ptr[i].url);
    free(service_map_ptr[i].service_header);
  }
  free(service_map_ptr);
  service_map_ptr = nullptr;
  total_services = max_services = 0;
  num_service_file = 0;
  set_config_line_number(0);
}

// How a call ended: its vt_exit status (0 when it returned) and its stderr.
struct Outcome {
  int status;
  std::string err;
};

template <typename Fn>
Outcome run_to_end(Fn fn) {
  set_vt_exit_hook(throw_on_vt_exit);
  testing::internal::CaptureStderr();
  int status = 0;
  try {
    fn();
  } catch (const VtExit &e) {
    status = e.status;
  }
  fflush(stderr);
  std::string err = testing::internal::GetCapturedStderr();
  set_vt_exit_hook(nullptr);
  return {status, err};
}

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_

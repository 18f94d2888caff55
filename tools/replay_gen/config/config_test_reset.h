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
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/test_support.h"

inline void reset_config_state() {
  strcpy(replay_dir, "");
  strcpy(scenario_name, "");
  strcpy(script_name, "");
  strcpy(host_name, "127.0.0.1");
  strcpy(host_hdr, "Host: 127.0.0.1");
  strcpy(input_dir, "");
  strcpy(http_version, "1.0");
  strcpy(script_type, "C");
  for (char **text : {&http_header, &req_top_line, &scenario_keyword}) free(*text), *text = nullptr;
  http_header_len = req_top_line_len = scenario_keyword_len = 0;
  start_time_stamp = end_time_stamp = 0;
  ignore_header = num_vvm = run_forcefully = 0;
  new_user_time = 1800000;
  g_msgcount_per_file = 20000;
  free_service_table();
  set_config_line_number(0);
}

// Applies one configuration line.
inline Outcome apply_line(std::string line) {
  return run_to_end([&] { apply_config_line(line.data()); });
}

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_TEST_RESET_H_

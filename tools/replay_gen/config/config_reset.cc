#include "tools/replay_gen/config/config_reset.h"

#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/config/config_value.h"
#include "tools/replay_gen/config/replay_dir.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/services/service_map.h"

namespace {

void release_text(char **text, int32_t *len) {
  free(*text);
  *text = nullptr;
  *len = 0;
}

}  // namespace

void reset_config_file_data() {
  replay_dir[0] = scenario_name[0] = script_name[0] = input_dir[0] = '\0';
  strcpy(host_name, "127.0.0.1");
  strcpy(host_hdr, "Host: 127.0.0.1");
  strcpy(http_version, "1.0");
  strcpy(script_type, "C");
  release_text(&http_header, &http_header_len);
  release_text(&req_top_line, &req_top_line_len);
  release_text(&scenario_keyword, &scenario_keyword_len);
  g_msgcount_per_file = 20000;
  new_user_time = 1800000;
  start_time_stamp = end_time_stamp = 0;
  ignore_header = 0;
  num_vvm = 0;
  free_service_table();
  set_config_line_number(0);
  release_replay_dir();
}

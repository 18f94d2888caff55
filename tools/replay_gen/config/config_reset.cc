#include "tools/replay_gen/config/config_reset.h"

#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/config/config_value.h"
#include "tools/replay_gen/config/replay_dir.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/service_map.h"

namespace {

void release_text(char **text, int32_t *len) {
  free(*text);
  *text = nullptr;
  *len = 0;
}

}  // namespace

void reset_config_file_data() {
  run.config.replay_dir[0] = run.config.scenario_name[0] = run.config.script_name[0] =
      run.config.input_dir[0] = '\0';
  strcpy(run.config.host_name, "127.0.0.1");
  strcpy(run.config.host_hdr, "Host: 127.0.0.1");
  strcpy(run.config.http_version, "1.0");
  strcpy(run.config.script_type, "C");
  release_text(&run.config.http_header, &run.config.http_header_len);
  release_text(&run.config.req_top_line, &run.config.req_top_line_len);
  release_text(&run.config.scenario_keyword, &run.config.scenario_keyword_len);
  run.config.g_msgcount_per_file = 20000;
  run.config.new_user_time = 1800000;
  run.config.start_time_stamp = run.config.end_time_stamp = 0;
  run.config.ignore_header = 0;
  run.workers.num_vvm = 0;
  free_service_table();
  set_config_line_number(0);
  release_replay_dir();
}

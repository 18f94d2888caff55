#include "tools/replay_gen/config_value.h"

#include <string.h>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

int config_line_number() {
  return run.config.current_line_num;
}

void set_config_line_number(int line_num) {
  run.config.current_line_num = line_num;
}

void check_config_value_length(const char *value, int max, const char *what, const char *fname) {
  size_t len = strlen(value);
  if (len <= static_cast<size_t>(max)) return;
  error_log(run.log, 1, fname,
            "%s at line %d of the configuration is %zu characters long; at most %d are allowed.",
            what, run.config.current_line_num, len, max);
  vt_exit(-1);
}

void copy_config_value(char *dst, int size, const char *value, const char *what,
                       const char *fname) {
  check_config_value_length(value, size - 1, what, fname);
  strcpy(dst, value);
}

void refuse_missing_config_value(const char *keyword, const char *fname) {
  error_log(run.log, 1, fname, "%s at line %d of the configuration has no value.", keyword,
            run.config.current_line_num);
  vt_exit(-1);
}

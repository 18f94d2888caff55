#include "tools/replay_gen/config_value.h"

#include <string.h>

bool check_config_value_length(const RunState &run, const char *value, int max, const char *what,
                               const char *fname, Failure *err) {
  size_t len = strlen(value);
  if (len <= static_cast<size_t>(max)) return true;
  return fail(err, fname,
              "%s at line %d of the configuration is %zu characters long; at most %d are allowed.",
              what, run.config.current_line_num, len, max);
}

bool copy_config_value(const RunState &run, char *dst, int size, const char *value,
                       const char *what, const char *fname, Failure *err) {
  if (!check_config_value_length(run, value, size - 1, what, fname, err)) return false;
  strcpy(dst, value);
  return true;
}

bool refuse_missing_config_value(const RunState &run, const char *keyword, const char *fname,
                                 Failure *err) {
  return fail(err, fname, "%s at line %d of the configuration has no value.", keyword,
              run.config.current_line_num);
}

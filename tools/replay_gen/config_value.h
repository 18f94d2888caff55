// Checks shared by the configuration keywords: the refusal of values that
// are missing or do not fit their field, naming the line being applied
// (run.config.current_line_num).
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_VALUE_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_VALUE_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// False, with *err, when value is longer than max characters. what names
// the value in the message ("REPLAY_DIR", "SERVICE_NAME method"); fname is
// the operation reported.
bool check_config_value_length(const RunState &run, const char *value, int max, const char *what,
                               const char *fname, Failure *err);
// Copies value into dst of size bytes, refusing a value that does not fit.
bool copy_config_value(const RunState &run, char *dst, int size, const char *value,
                       const char *what, const char *fname, Failure *err);
// Refuses a keyword line without its value; always false.
bool refuse_missing_config_value(const RunState &run, const char *keyword, const char *fname,
                                 Failure *err);

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_VALUE_H_

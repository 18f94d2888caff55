// Checks shared by the configuration keywords: the line being read, and the
// refusal of values that are missing or do not fit their field.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_VALUE_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_VALUE_H_

// Number of the configuration line being applied (0 outside reading).
int config_line_number();
void set_config_line_number(int line_num);

// Ends the run when value is longer than max characters. what names the
// value in the message ("REPLAY_DIR", "SERVICE_NAME method"); fname is the
// operation reported.
void check_config_value_length(const char *value, int max, const char *what, const char *fname);
// Copies value into dst of size bytes, refusing a value that does not fit.
void copy_config_value(char *dst, int size, const char *value, const char *what, const char *fname);
[[noreturn]] void refuse_missing_config_value(const char *keyword, const char *fname);

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_VALUE_H_

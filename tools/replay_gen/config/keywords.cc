// The keywords of the configuration file that are split into fields.
#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/core/nearest_word.h"
#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config_value.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/service_map.h"

namespace {

constexpr char kFname[] = "read_config_file_new";
constexpr int kTextMax = kTextBufSize - 1;

void set_script_name(int, char **field) {
  check_config_value_length(field[1], kTextMax, "SCRIPT_NAME", kFname);
  proj_subproj_script_scenario_validation(field[1], "Script");
  strcpy(run.config.script_name, field[1]);
}

void set_scenario_name(int, char **field) {
  check_config_value_length(field[1], kTextMax, "SCENARIO_NAME", kFname);
  if (!strstr(field[1], ".conf")) {
    error_log(run.log, 1, kFname,
              "Scenario file name (%s) is not correct. It should have extension .conf", field[1]);
    vt_exit(-1);
  }
  proj_subproj_script_scenario_validation(field[1], "Scenario");
  strcpy(run.config.scenario_name, field[1]);
}

void set_new_user_time(int, char **field) {
  // Read in 64 bits: a value past the 32-bit range must not wrap around.
  int64_t whole = duration_ms_whole(field[1]);
  if (whole > INT32_MAX) {
    error_log(run.log, 1, kFname,
              "NEW_USER_TIME at line %d of the configuration is %s (%lld milliseconds); it must be "
              "between 0 and %d milliseconds (about 596 hours).",
              config_line_number(), field[1], static_cast<long long>(whole), INT32_MAX);
    vt_exit(-1);
  }
  int32_t ms = static_cast<int32_t>(whole);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFname, "New User Time is %s (%d milliseconds)", field[1], ms);
  if (whole < 0) {
    error_log(run.log, 1, kFname,
              "NEW_USER_TIME at line %d of the configuration gives %lld milliseconds; it must be "
              "between 0 and %d milliseconds (about 596 hours).",
              config_line_number(), static_cast<long long>(whole), INT32_MAX);
    vt_exit(-1);
  }
  run.config.new_user_time = static_cast<uint64_t>(ms);
}

void set_replay_dir_field(int, char **field) {
  set_replay_dir(field[1]);
}

void set_ignore_header(int, char **field) {
  run.config.ignore_header = atoi(field[1]);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFname,
              "Ignore header is set. So first line of all files will be ignored");
}

void set_http_version(int, char **field) {
  copy_config_value(run.config.http_version, kHttpVersionSize, field[1], "HTTP_VERSION", kFname);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFname, "http_version = %s", run.config.http_version);
}

void add_req_top_line(int, char **field) {
  set_req_top_line(field[1]);
}

void add_http_header(int, char **field) {
  set_http_header(field[1]);
}

void add_scenario_keyword(int, char **field) {
  set_scenario_keyword(field[1]);
}

// NUM_PROCESSES and NUM_VVM: the worker table holds kMaxVvm workers.
void set_num_vvm(int, char **field) {
  char *end;
  long workers = strtol(field[1], &end, 10);
  if (end == field[1] || *end != '\0') {
    error_log(run.log, 1, kFname,
              "%s at line %d of the configuration is '%s'; it must be a whole number between 1 "
              "and %d.",
              field[0], config_line_number(), field[1], kMaxVvm);
    vt_exit(-1);
  }
  if (workers < 1 || workers > kMaxVvm) {
    error_log(run.log, 1, kFname,
              "%s at line %d of the configuration is %ld; it must be between 1 and %d.", field[0],
              config_line_number(), workers, kMaxVvm);
    vt_exit(-1);
  }
  run.workers.num_vvm = static_cast<int16_t>(workers);
}

// SUITE_COMMAND_TIME_LIMIT: seconds each suite command may run.
void set_suite_command_time_limit(int, char **field) {
  char *end;
  errno = 0;
  long long seconds = strtoll(field[1], &end, 10);
  if (end == field[1] || *end != '\0' || errno == ERANGE || seconds < 1 ||
      seconds > kMaxSuiteCommandTimeLimit) {
    error_log(run.log, 1, kFname,
              "SUITE_COMMAND_TIME_LIMIT at line %d of the configuration is '%s'; it must be a "
              "whole number of seconds between 1 and %lld.",
              config_line_number(), field[1], static_cast<long long>(kMaxSuiteCommandTimeLimit));
    vt_exit(-1);
  }
  run.config.suite_command_time_limit = seconds;
}

void add_service(int num, char **field) {
  set_service(num, field);
}

void set_script_type(int, char **field) {
  if (strcmp(field[1], "C") != 0 && strcmp(field[1], "Legacy") != 0) {
    error_log(run.log, 1, kFname, "Error: Invalid script type %s. It should be Legacy or C",
              field[1]);
    vt_exit(-1);
  }
  strcpy(run.config.script_type, field[1]);
}

void set_memory_limit(int, char **field) {
  uint64_t bytes = 0;
  if (!parse_memory_size(field[1], &bytes) || bytes < kMinMemoryLimit || bytes > kMaxMemoryLimit) {
    error_log(run.log, 1, kFname,
              "MEMORY_LIMIT at line %d of the configuration is '%s'; it must be a size from 4K to "
              "1048576T: a whole number of bytes, or one followed by K, M, G or T (512M, 8G).",
              config_line_number(), field[1]);
    vt_exit(-1);
  }
  run.config.memory_limit = bytes;
}

struct Keyword {
  const char *name;
  void (*apply)(int num, char **field);
  bool needs_value;  // lines of fewer fields have their own message
};

constexpr Keyword kKeywords[] = {
    {"REPLAY_PERIOD", set_replay_period, false},
    {"SCRIPT_NAME", set_script_name, true},
    {"SCENARIO_NAME", set_scenario_name, true},
    {"NEW_USER_TIME", set_new_user_time, true},
    {"REPLAY_DIR", set_replay_dir_field, true},
    {"IGNORE_HEADER", set_ignore_header, true},
    {"HTTP_VERSION", set_http_version, true},
    {"REQ_TOP_LINE", add_req_top_line, true},
    {"HTTP_HEADER", add_http_header, true},
    {"SCENARIO_KEYWORD", add_scenario_keyword, true},
    {"NUM_PROCESSES", set_num_vvm, true},
    {"NUM_VVM", set_num_vvm, true},
    {"SERVICE_NAME", add_service, false},
    {"SCRIPT_TYPE", set_script_type, true},
    {"SUITE_COMMAND_TIME_LIMIT", set_suite_command_time_limit, true},
    {"MEMORY_LIMIT", set_memory_limit, true},
};

}  // namespace

const char *config_keyword_name(int i) {
  // The three keywords known by how the line begins come after the table.
  static const char *const kPrefixKeywords[] = {"INPUT_DIR", "HOST_HEADER", "MSG_COUNT_PER_FILE"};
  constexpr int kTable = sizeof kKeywords / sizeof kKeywords[0];
  constexpr int kPrefix = sizeof kPrefixKeywords / sizeof kPrefixKeywords[0];
  if (i < 0 || i >= kTable + kPrefix) return nullptr;
  return i < kTable ? kKeywords[i].name : kPrefixKeywords[i - kTable];
}

bool is_config_keyword(const char *word) {
  for (int i = 0; const char *k = config_keyword_name(i); i++)
    if (strcmp(word, k) == 0) return true;
  return false;
}

std::string nearest_config_keyword(const char *word) {
  std::vector<std::string> keywords;
  for (int i = 0; const char *k = config_keyword_name(i); i++) keywords.push_back(k);
  std::string upper = word;
  for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return nearest_word(upper, keywords);
}

void apply_config_fields(int num, char **field) {
  for (const Keyword &keyword : kKeywords) {
    if (strcmp(field[0], keyword.name) != 0) continue;
    if (keyword.needs_value && num < 2) refuse_missing_config_value(keyword.name, kFname);
    keyword.apply(num, field);
    return;
  }
}

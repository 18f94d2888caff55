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
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFname = trace_name::kReadConfig;
constexpr int kTextMax = kTextBufSize - 1;

bool set_script_name(RunState &run, int, char **field, Failure *err) {
  if (!check_config_value_length(run, field[1], kTextMax, "SCRIPT_NAME", kFname, err) ||
      !proj_subproj_script_scenario_validation(run, field[1], "Script", err))
    return false;
  strcpy(run.config.script_name, field[1]);
  return true;
}

bool set_scenario_name(RunState &run, int, char **field, Failure *err) {
  if (!check_config_value_length(run, field[1], kTextMax, "SCENARIO_NAME", kFname, err))
    return false;
  if (!strstr(field[1], ".conf"))
    return fail(err, kFname,
                "Scenario file name (%s) is not correct. It should have extension .conf", field[1]);
  if (!proj_subproj_script_scenario_validation(run, field[1], "Scenario", err)) return false;
  strcpy(run.config.scenario_name, field[1]);
  return true;
}

bool set_new_user_time(RunState &run, int, char **field, Failure *err) {
  // Read in 64 bits: a value past the 32-bit range must not wrap around.
  int64_t whole = duration_ms_whole(field[1]);
  if (whole > INT32_MAX)
    return fail(err, kFname,
                "NEW_USER_TIME at line %d of the configuration is %s (%lld milliseconds); it must "
                "be between 0 and %d milliseconds (about 596 hours).",
                run.config.current_line_num, field[1], static_cast<long long>(whole), INT32_MAX);
  int32_t ms = static_cast<int32_t>(whole);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFname, "New User Time is %s (%d milliseconds)", field[1], ms);
  if (whole < 0)
    return fail(err, kFname,
                "NEW_USER_TIME at line %d of the configuration gives %lld milliseconds; it must be "
                "between 0 and %d milliseconds (about 596 hours).",
                run.config.current_line_num, static_cast<long long>(whole), INT32_MAX);
  run.config.new_user_time = static_cast<uint64_t>(ms);
  return true;
}

bool set_replay_dir_field(RunState &run, int, char **field, Failure *err) {
  return set_replay_dir(run, field[1], err);
}

bool set_ignore_header(RunState &run, int, char **field, Failure *) {
  run.config.ignore_header = atoi(field[1]);
  if (run.log.debug_level)
    debug_log(run.log, 2, kFname,
              "Ignore header is set. So first line of all files will be ignored");
  return true;
}

bool set_http_version(RunState &run, int, char **field, Failure *err) {
  if (!copy_config_value(run, run.config.http_version, kHttpVersionSize, field[1], "HTTP_VERSION",
                         kFname, err))
    return false;
  if (run.log.debug_level)
    debug_log(run.log, 2, kFname, "http_version = %s", run.config.http_version);
  return true;
}

bool add_req_top_line(RunState &run, int, char **field, Failure *err) {
  return set_req_top_line(run, field[1], err);
}

bool add_http_header(RunState &run, int, char **field, Failure *err) {
  return set_http_header(run, field[1], err);
}

bool add_scenario_keyword(RunState &run, int, char **field, Failure *err) {
  return set_scenario_keyword(run, field[1], err);
}

// NUM_PROCESSES and NUM_VVM: the worker table holds kMaxVvm workers.
bool set_num_vvm(RunState &run, int, char **field, Failure *err) {
  char *end;
  long workers = strtol(field[1], &end, 10);
  if (end == field[1] || *end != '\0')
    return fail(err, kFname,
                "%s at line %d of the configuration is '%s'; it must be a whole number between 1 "
                "and %d.",
                field[0], run.config.current_line_num, field[1], kMaxVvm);
  if (workers < 1 || workers > kMaxVvm)
    return fail(err, kFname,
                "%s at line %d of the configuration is %ld; it must be between 1 and %d.", field[0],
                run.config.current_line_num, workers, kMaxVvm);
  run.workers.num_vvm = static_cast<int16_t>(workers);
  return true;
}

// SUITE_COMMAND_TIME_LIMIT: seconds each suite command may run.
bool set_suite_command_time_limit(RunState &run, int, char **field, Failure *err) {
  char *end;
  errno = 0;
  long long seconds = strtoll(field[1], &end, 10);
  if (end == field[1] || *end != '\0' || errno == ERANGE || seconds < 1 ||
      seconds > kMaxSuiteCommandTimeLimit)
    return fail(err, kFname,
                "SUITE_COMMAND_TIME_LIMIT at line %d of the configuration is '%s'; it must be a "
                "whole number of seconds between 1 and %lld.",
                run.config.current_line_num, field[1],
                static_cast<long long>(kMaxSuiteCommandTimeLimit));
  run.config.suite_command_time_limit = seconds;
  return true;
}

bool add_service(RunState &run, int num, char **field, Failure *err) {
  return set_service(run, num, field, err);
}

bool set_script_type(RunState &run, int, char **field, Failure *err) {
  if (strcmp(field[1], "C") != 0 && strcmp(field[1], "Legacy") != 0)
    return fail(err, kFname, "Error: Invalid script type %s. It should be Legacy or C", field[1]);
  strcpy(run.config.script_type, field[1]);
  return true;
}

bool set_memory_limit(RunState &run, int, char **field, Failure *err) {
  uint64_t bytes = 0;
  if (!parse_memory_size(field[1], &bytes) || bytes < kMinMemoryLimit || bytes > kMaxMemoryLimit)
    return fail(err, kFname,
                "MEMORY_LIMIT at line %d of the configuration is '%s'; it must be a size from 4K "
                "to 1048576T: a whole number of bytes, or one followed by K, M, G or T (512M, 8G).",
                run.config.current_line_num, field[1]);
  run.config.memory_limit = bytes;
  return true;
}

struct Keyword {
  const char *name;
  bool (*apply)(RunState &run, int num, char **field, Failure *err);
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

bool apply_config_fields(RunState &run, int num, char **field, Failure *err) {
  for (const Keyword &keyword : kKeywords) {
    if (strcmp(field[0], keyword.name) != 0) continue;
    if (keyword.needs_value && num < 2)
      return refuse_missing_config_value(run, keyword.name, kFname, err);
    return keyword.apply(run, num, field, err);
  }
  return true;
}

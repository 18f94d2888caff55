#include "tools/replay_gen/config/config_reader.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "base/core/shell_quote.h"
#include "tools/replay_gen/config_value.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFname = trace_name::kReadConfig;
// Largest MSG_COUNT_PER_FILE: one loader thread's record array must stay
// within what one allocation can ask for.
constexpr unsigned long long kMaxMsgCountPerFile = INT64_MAX / sizeof(SeqData);

struct FileCloser {
  void operator()(FILE *fp) const { fclose(fp); }
};

// The whole line, keyword included; input discovery reads its own parts.
bool set_input_dir(RunState &run, const char *line, Failure *err) {
  if (strlen(line) <= strlen("INPUT_DIR|"))
    return refuse_missing_config_value(run, "INPUT_DIR", kFname, err);
  return copy_config_value(run, run.config.input_dir, kTextBufSize, line, "INPUT_DIR", kFname, err);
}

// Everything after "HOST_HEADER" and its separator, further "|" included.
bool set_host_header(RunState &run, const char *line, Failure *err) {
  const size_t offset = strlen("HOST_HEADER|");
  if (strlen(line) <= offset) return refuse_missing_config_value(run, "HOST_HEADER", kFname, err);
  const char *value = line + offset;
  // host_hdr adds "Host: " in front of the same text.
  if (!check_config_value_length(run, value, kTextBufSize - 1 - static_cast<int>(strlen("Host: ")),
                                 "HOST_HEADER", kFname, err))
    return false;
  strcpy(run.config.host_name, value);
  snprintf(run.config.host_hdr, sizeof(run.config.host_hdr), "Host: %s", value);
  return true;
}

bool set_msg_count_per_file(RunState &run, const char *line, Failure *err) {
  const size_t offset = strlen("MSG_COUNT_PER_FILE|");
  if (strlen(line) <= offset)
    return refuse_missing_config_value(run, "MSG_COUNT_PER_FILE", kFname, err);
  const char *value = line + offset;
  char *end;
  errno = 0;
  long count = strtol(value, &end, 10);
  bool too_large = errno == ERANGE && count > 0;
  run.config.g_msgcount_per_file = static_cast<uint64_t>(count);
  if (run.log.debug_level)
    debug_log(run.log, 4, kFname, "g_msgcount_per_file - %lu",
              static_cast<unsigned long>(run.config.g_msgcount_per_file));
  int line_num = run.config.current_line_num;
  if (count == 0)
    return fail(err, kFname, "Invalid value for MSG_COUNT_PER_FILE, It should be greater than 0");
  if (count < 0)
    return fail(err, kFname,
                "MSG_COUNT_PER_FILE at line %d of the configuration is %ld; it must be greater "
                "than 0.",
                line_num, count);
  if (*end != '\0')
    return fail(err, kFname,
                "MSG_COUNT_PER_FILE at line %d of the configuration is '%s'; it must be a whole "
                "number.",
                line_num, value);
  // Each loader thread allocates this many records at once.
  if (too_large || static_cast<uint64_t>(count) > kMaxMsgCountPerFile)
    return fail(err, kFname,
                "MSG_COUNT_PER_FILE at line %d of the configuration is %s; at most %llu are "
                "allowed.",
                line_num, value, static_cast<unsigned long long>(kMaxMsgCountPerFile));
  return true;
}

// Refuses, before any line acts, a file that starts with a byte-order mark
// (its first keyword would not be known) or whose lines end in CR LF (every
// value would keep a carriage return), saying how to convert it.
bool check_config_text(FILE *fp, const char *name, Failure *err) {
  std::string quoted = vtlb_shell_quote(name);
  char *line = nullptr;
  size_t room = 0;
  ssize_t len;
  int line_num = 1;
  bool ok = true;
  while (ok && (len = getline(&line, &room, fp)) > 0) {
    if (line_num == 1 && len >= 3 && memcmp(line, "\xEF\xBB\xBF", 3) == 0) {
      ok = fail(err, kFname,
                "Configuration file %s starts with a UTF-8 byte-order mark (bytes EF BB BF); save "
                "it without one, e.g. with: sed -i '1s/^\\xEF\\xBB\\xBF//' %s",
                name, quoted.c_str());
      break;
    }
    bool line_end = line[len - 1] == '\n';
    if (line_end) len--;
    if (len > 0 && line[len - 1] == '\r')
      ok = fail(err, kFname,
                "Configuration file %s has Windows line ends (CR LF, first at line %d); convert "
                "it first, e.g. with: sed -i 's/\\r$//' %s",
                name, line_num, quoted.c_str());
    line_num++;
  }
  free(line);
  if (ok && (ferror(fp) || fseek(fp, 0, SEEK_SET) != 0))
    ok = fail(err, kFname, "Unable to read configuration file %s: %s", name, strerror(errno));
  return ok;
}

bool starts_with(const char *line, const char *prefix) {
  return strncmp(line, prefix, strlen(prefix)) == 0;
}

// A line of no keyword is ignored, with one warning: that a keyword and its
// value are separated by "|" when the line has none (REPLAY_DIR=/data), else
// the keyword nearest to its first field (NUM_VMM). A line of blanks only
// says nothing. A dry run keeps the warning for its report.
void warn_unknown_line(RunState &run, const char *first, bool has_separator) {
  if (strspn(first, " \t") == strlen(first)) return;
  char text[512];
  int line_num = run.config.current_line_num;
  std::string near = has_separator ? nearest_config_keyword(first) : "";
  if (!has_separator)
    snprintf(text, sizeof text,
             "Line %d of the configuration has no '|': a keyword and its value are separated by "
             "'|' (as in REPLAY_DIR|/data/replay); the line is ignored.",
             line_num);
  else if (near.empty())
    snprintf(text, sizeof text,
             "Line %d of the configuration: '%.200s' is no keyword; the line is ignored.", line_num,
             first);
  else
    snprintf(text, sizeof text,
             "Line %d of the configuration: '%.200s' is no keyword (did you mean %s?); the line is "
             "ignored.",
             line_num, first, near.c_str());
  if (run.options.dry_run)
    run.dry.warnings.push_back(text);
  else
    error_log(run.log, 1, kFname, "%s", text);
}

}  // namespace

bool apply_config_line(RunState &run, char *line, Failure *err) {
  if (line[0] == '\0' || line[0] == '#') return true;
  // Three keywords are known by how the line begins and take their value
  // from a fixed position of the unsplit line.
  if (starts_with(line, "INPUT_DIR")) return set_input_dir(run, line, err);
  if (starts_with(line, "HOST_HEADER")) return set_host_header(run, line, err);
  if (starts_with(line, "MSG_COUNT_PER_FILE")) return set_msg_count_per_file(run, line, err);
  bool has_separator = strchr(line, '|') != nullptr;
  char *field[kMaxConfigFields];
  int num = get_tokens_local(run.log, line, field, "|", kMaxConfigFields);
  if (num == 0) return true;
  // A longer line keeps its first fields, as the tokenizer stored them.
  if (num > kMaxConfigFields) num = kMaxConfigFields;
  if (!is_config_keyword(field[0])) {
    warn_unknown_line(run, field[0], has_separator);
    return true;
  }
  return apply_config_fields(run, num, field, err);
}

bool read_config_file_new(RunState &run, const char *config_file_name, Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 4, kFname, "Method Called. config_file_name = %s", config_file_name);
  snprintf(run.config.config_file, sizeof run.config.config_file, "%s", config_file_name);
  std::unique_ptr<FILE, FileCloser> fp(open_file(run.log, config_file_name, "r", err));
  if (!fp || !check_config_text(fp.get(), config_file_name, err)) return false;
  std::unique_ptr<char[]> line(new char[kConfigLineBufSize]);
  int line_num = 1;
  while (fgets(line.get(), kConfigLineBufSize, fp.get())) {
    size_t len = strlen(line.get());
    bool line_end = len > 0 && line[len - 1] == '\n';
    if (line_end) line[len - 1] = '\0';
    run.config.current_line_num = line_num;
    if (!apply_config_line(run, line.get(), err)) return false;
    // The pieces of an over-long line share its number.
    if (line_end) line_num++;
  }
  return true;
}

bool validate_config_file_data(const RunState &run, Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 4, "validate_config_file_data", "Method Called");
  if (run.config.replay_dir[0] && run.config.script_name[0] && run.config.scenario_name[0])
    return true;
  return fail(err, "validate_config_file_data",
              "Replay,Script and Scenario path must be defined in config file, Exiting...");
}

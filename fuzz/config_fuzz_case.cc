#include "fuzz/fuzz_cases.h"

#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/run_state.h"

namespace {

constexpr char kReplayDirKeyword[] = "REPLAY_DIR";
constexpr const char *kFuzzReplayDir = "/tmp/vt_config_fuzz_replay";  // as if made

// Whether the reader hands this line (len bytes, no line end) to set_replay_dir (the shell).
bool runs_replay_dir_shell(const char *text, size_t len) {
  if (!memmem(text, len, kReplayDirKeyword, strlen(kReplayDirKeyword))) return false;
  std::string line(text, strnlen(text, len));  // the reader stops at a NUL byte
  if (line.empty() || line[0] == '#') return false;
  for (const char *prefix : {"INPUT_DIR", "HOST_HEADER", "MSG_COUNT_PER_FILE"})
    if (line.compare(0, strlen(prefix), prefix) == 0) return false;
  char *field[3];
  int num = get_tokens_local(LogGates{}, line.data(), field, "|", 3);
  return num >= 2 && strcmp(field[0], kReplayDirKeyword) == 0 && strlen(field[1]) < kTextBufSize;
}

// The text without the lines that would run the shell, cut as fgets cuts it.
std::string without_replay_dir_lines(const char *text, size_t size, bool *had_replay_dir) {
  if (!memmem(text, size, kReplayDirKeyword, strlen(kReplayDirKeyword)))
    return std::string(text, size);
  std::string kept;
  for (size_t pos = 0; pos < size;) {
    size_t room = std::min<size_t>(size - pos, kConfigLineBufSize - 1);
    const char *line = text + pos;
    const char *nl = static_cast<const char *>(memchr(line, '\n', room));
    size_t len = nl ? nl - line + 1 : room;
    if (runs_replay_dir_shell(line, nl ? len - 1 : len))
      *had_replay_dir = true;
    else
      kept.append(line, len);
    pos += len;
  }
  return kept;
}

// The configuration file of every case: one in-memory file, rewritten.
std::string write_config(const std::string &text) {
  static int fd = memfd_create("vt_config_fuzz", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    return "";
  return "/proc/self/fd/" + std::to_string(fd);
}

bool terminated(const char *text, size_t size) {
  return memchr(text, '\0', size) != nullptr;
}

bool ends_with(const char *text, const char *end) {
  size_t len = strlen(text), end_len = strlen(end);
  return len >= end_len && strcmp(text + len - end_len, end) == 0;
}

bool project_path(const char *name) {
  std::string copy = name;
  char *field[4];
  return name[0] != '/' && get_tokens_local(LogGates{}, copy.data(), field, "/", 4) == 3;
}

std::string check_accumulated(const char *name, const char *text, int32_t len, const char *end) {
  if (!text) return len == 0 ? "" : std::string(name) + " has a length but no text";
  if (len <= 0 || strlen(text) != static_cast<size_t>(len) || !ends_with(text, end))
    return std::string(name) + " does not match its length or line end";
  return "";
}

std::string check_services(const RunState &run) {
  if (run.services.total_services != run.services.num_service_file ||
      run.services.total_services > run.services.max_services)
    return "service counts disagree";
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &e = run.services.service_map_ptr[i];
    if (!e.service_name || !e.service_name[0] || !e.url || !e.url[0] ||
        e.url_len != static_cast<int32_t>(strlen(e.url)))
      return "service " + std::to_string(i) + " lacks its name or URL";
    if (!terminated(e.method_type, sizeof e.method_type) || !e.indexing_tag[0] ||
        !terminated(e.indexing_tag, sizeof e.indexing_tag) ||
        !terminated(e.sname_prefix, sizeof e.sname_prefix))
      return "service " + std::to_string(i) + " has an unterminated field";
    if (e.service_header_len != (e.service_header ? int32_t(strlen(e.service_header)) : 0))
      return "service " + std::to_string(i) + " header length is wrong";
  }
  return "";
}

// What an accepted configuration leaves.
std::string check_values(const RunState &run) {
  for (const char *text : {run.config.replay_dir, run.config.scenario_name, run.config.script_name,
                           run.config.host_name, run.config.host_hdr, run.config.input_dir})
    if (!terminated(text, kTextBufSize)) return "a text value is not terminated";
  if (!terminated(run.config.http_version, kHttpVersionSize) ||
      !terminated(run.config.script_type, kScriptTypeSize))
    return "a short value is not terminated";
  if (std::string("Host: ") + run.config.host_name != run.config.host_hdr)
    return "host_hdr does not match host_name";
  if (run.config.input_dir[0] && strncmp(run.config.input_dir, "INPUT_DIR", 9) != 0)
    return "input_dir lost its keyword";
  std::string why =
      check_accumulated("req_top_line", run.config.req_top_line, run.config.req_top_line_len, "\n");
  if (why.empty())
    why = check_accumulated("http_header", run.config.http_header, run.config.http_header_len,
                            "\r\n");
  if (why.empty())
    why = check_accumulated("scenario_keyword", run.config.scenario_keyword,
                            run.config.scenario_keyword_len, "\n");
  if (!why.empty()) return why;
  if (run.workers.num_vvm < 0 || run.workers.num_vvm > kMaxVvm) return "worker count out of range";
  if (run.config.g_msgcount_per_file == 0 || run.config.g_msgcount_per_file > INT64_MAX)
    return "MSG_COUNT_PER_FILE out of range";
  if (run.config.new_user_time > INT32_MAX) return "NEW_USER_TIME out of range";
  if (strcmp(run.config.script_type, "C") != 0 && strcmp(run.config.script_type, "Legacy") != 0)
    return "unknown script type";
  if (run.config.script_name[0] && !project_path(run.config.script_name))
    return "script name not project/sub/name";
  if (run.config.scenario_name[0] &&
      (!project_path(run.config.scenario_name) || !strstr(run.config.scenario_name, ".conf")))
    return "scenario name not project/sub/name.conf";
  return check_services(run);
}

// A refused configuration ends the run with status -1.
std::string read_and_validate(RunState &run, const std::string &path) {
  Failure err;
  if (!read_config_file_new(run, path.c_str(), &err))
    return err.status == -1 ? "" : "refused with status " + std::to_string(err.status);
  std::string why = check_values(run);
  if (!why.empty()) return why;
  bool complete =
      run.config.replay_dir[0] && run.config.script_name[0] && run.config.scenario_name[0];
  bool valid = validate_config_file_data(run, &err);
  if (complete ? !valid : valid || err.status != -1)
    return "validation ended with status " + std::to_string(err.status);
  return "";
}

}  // namespace

std::string run_config_fuzz_case(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  bool had_replay_dir = false;
  std::string kept = without_replay_dir_lines(text, size, &had_replay_dir);
  std::string path = write_config(kept);
  if (path.empty()) return "harness: cannot write the configuration";

  RunState run;
  run.log.info_level = run.log.error_level = 0;
  run.log.debug_level = kept.compare(0, 7, "#debug\n") == 0 ? 4 : 0;
  if (had_replay_dir)
    snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s", kFuzzReplayDir);
  return read_and_validate(run, path);
}

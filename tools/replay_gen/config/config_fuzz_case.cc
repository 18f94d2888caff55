#include "tools/replay_gen/config/config_fuzz_case.h"

#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/config_reset.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/records.h"

namespace {

constexpr char kReplayDirKeyword[] = "REPLAY_DIR";

// True when the reader would hand this line (without its line end, len
// bytes) to set_replay_dir, which runs the shell.
bool runs_replay_dir_shell(const char *text, size_t len) {
  if (!memmem(text, len, kReplayDirKeyword, strlen(kReplayDirKeyword))) return false;
  std::string line(text, strnlen(text, len));  // the reader stops at a NUL byte
  if (line.empty() || line[0] == '#') return false;
  for (const char *prefix : {"INPUT_DIR", "HOST_HEADER", "MSG_COUNT_PER_FILE"})
    if (line.compare(0, strlen(prefix), prefix) == 0) return false;
  char *field[3];
  int num = get_tokens_local(line.data(), field, "|", 3);
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
  return name[0] != '/' && get_tokens_local(copy.data(), field, "/", 4) == 3;
}

std::string check_accumulated(const char *name, const char *text, int32_t len, const char *end) {
  if (!text) return len == 0 ? "" : std::string(name) + " has a length but no text";
  if (len <= 0 || strlen(text) != static_cast<size_t>(len) || !ends_with(text, end))
    return std::string(name) + " does not match its length or line end";
  return "";
}

std::string check_services() {
  if (total_services != num_service_file || total_services > max_services)
    return "service counts disagree";
  for (int i = 0; i < total_services; i++) {
    const ServiceMap &e = service_map_ptr[i];
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
std::string check_values() {
  for (const char *text : {replay_dir, scenario_name, script_name, host_name, host_hdr, input_dir})
    if (!terminated(text, kTextBufSize)) return "a text value is not terminated";
  if (!terminated(http_version, kHttpVersionSize) || !terminated(script_type, kScriptTypeSize))
    return "a short value is not terminated";
  if (std::string("Host: ") + host_name != host_hdr) return "host_hdr does not match host_name";
  if (input_dir[0] && strncmp(input_dir, "INPUT_DIR", 9) != 0) return "input_dir lost its keyword";
  std::string why = check_accumulated("req_top_line", req_top_line, req_top_line_len, "\n");
  if (why.empty()) why = check_accumulated("http_header", http_header, http_header_len, "\r\n");
  if (why.empty())
    why = check_accumulated("scenario_keyword", scenario_keyword, scenario_keyword_len, "\n");
  if (!why.empty()) return why;
  if (num_vvm < 0 || num_vvm > kMaxVvm) return "worker count out of range";
  if (g_msgcount_per_file == 0 || g_msgcount_per_file > INT64_MAX)
    return "MSG_COUNT_PER_FILE out of range";
  if (new_user_time > INT32_MAX) return "NEW_USER_TIME out of range";
  if (strcmp(script_type, "C") != 0 && strcmp(script_type, "Legacy") != 0)
    return "unknown script type";
  if (script_name[0] && !project_path(script_name)) return "script name not project/sub/name";
  if (scenario_name[0] && (!project_path(scenario_name) || !strstr(scenario_name, ".conf")))
    return "scenario name not project/sub/name.conf";
  return check_services();
}

// Runs fn; returns its vt_exit status, or 0 when it returned.
template <typename Fn>
int status_of(Fn fn) {
  set_vt_exit_hook(throw_on_vt_exit);
  int status = 0;
  try {
    fn();
  } catch (const VtExit &e) {
    status = e.status == 0 ? 256 : e.status;  // a fatal exit with 0 is still fatal
  }
  set_vt_exit_hook(nullptr);
  return status;
}

std::string read_and_validate(const std::string &path) {
  if (int status = status_of([&] { read_config_file_new(path.c_str()); }))
    return status == -1 ? "" : "refused with status " + std::to_string(status);
  std::string why = check_values();
  if (!why.empty()) return why;
  bool complete = replay_dir[0] && script_name[0] && scenario_name[0];
  int status = status_of([] { validate_config_file_data(); });
  if (complete ? status != 0 : status != -1)
    return "validation ended with status " + std::to_string(status);
  return "";
}

}  // namespace

std::string run_config_fuzz_case(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  bool had_replay_dir = false;
  std::string kept = without_replay_dir_lines(text, size, &had_replay_dir);
  std::string path = write_config(kept);
  if (path.empty()) return "harness: cannot write the configuration";

  int32_t saved_levels[] = {info_level, debug_level, error_level};
  reset_config_file_data();
  info_level = error_level = 0;
  debug_level = kept.compare(0, 7, "#debug\n") == 0 ? 4 : 0;
  if (had_replay_dir) snprintf(replay_dir, sizeof replay_dir, "%s", kFuzzReplayDir);
  std::string why = read_and_validate(path);
  reset_config_file_data();
  info_level = saved_levels[0];
  debug_level = saved_levels[1];
  error_level = saved_levels[2];
  return why;
}

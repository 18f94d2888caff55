#include "tools/package/preview.h"

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/core/input_file.h"
#include "base/package/json_string.h"
#include "tools/package/profile_report.h"
#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/loader/input_files.h"
#include "tools/replay_gen/loader/parallel_loader.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/spilled_entries.h"
#include "tools/replay_gen/output/spilled_index.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/services/request_head.h"
#include "tools/replay_gen/services/service_map.h"
#include "tools/replay_gen/spill/spill_dir.h"

namespace {

// What the child sends its parent, line by line: "W <warning>", "P
// <problem>" as they are found, then "R" and the finished report. A parent
// gone before it reads them wants none of it.
void write_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string one_line(std::string text) {
  for (char &c : text)
    if (c == '\n') c = ' ';
  return text;
}

std::vector<std::string> read_lines(const std::string &path) {
  // What cannot be read (a named pipe, say) gives no lines: the tool's own
  // reader then says why.
  std::vector<std::string> lines;
  std::string text, why;
  if (!vtlb_read_regular_file(path, &text, &why)) return lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The processors the tool would count (read here, where the tool runs a
// shell pipeline).
int count_processors() {
  FILE *fp = fopen("/proc/cpuinfo", "re");
  if (!fp) return -1;
  int count = count_processor_lines(fp);
  fclose(fp);
  return count;
}

// One planned request of a user on worker vvm_id, fed to the profile
// accumulator; first and last follow the user's send times.
void profile_planned_request(ProfileBuilder *b, int vvm_id, const ReqNode &r, uint64_t *first,
                             uint64_t *last) {
  const ServiceMap &svc = run.services.service_map_ptr[r.page_id];
  uint64_t body = 0;
  // "Content-Length: " and "\r\n\r\n" around the value, "\n" after the body.
  body_size_of_entry(r.size, static_cast<uint64_t>(svc.all_headers_len) + 21, &body);
  profile_add_request(b, vvm_id, r.page_id, r.time_stamp, r.size, body);
  *first = std::min<uint64_t>(*first, r.time_stamp);
  *last = std::max<uint64_t>(*last, r.time_stamp);
}

// A user's send time, for the users' first and last times of a dry run that
// spills: kept in sorted runs, so that the profile holds no list of users.
struct UserTime {
  uint64_t time_ms;
  uint64_t user_no;
};

struct UserTimeLess {
  bool operator()(const UserTime &a, const UserTime &b) const {
    return a.time_ms != b.time_ms ? a.time_ms < b.time_ms : a.user_no < b.user_no;
  }
};

struct SpilledTimes {
  RunSort<UserTime> sort;
  std::vector<UserTime> buf;
  size_t used = 0;
  RunMerge<UserTime, UserTimeLess> merge;
};

void add_time(SpilledTimes *s, UserTime t) {
  s->buf[s->used++] = t;
  if (s->used < s->buf.size()) return;
  sort_into_run(&s->sort, s->buf.data(), s->used, UserTimeLess{});
  s->used = 0;
}

// The times in ascending order, merged with at most share bytes.
TimeSource merged_times(SpilledTimes *s, uint64_t share) {
  sort_into_run(&s->sort, s->buf.data(), s->used, UserTimeLess{});
  s->buf = {};
  MergeShape shape = merge_shape(share, sizeof(UserTime));
  merge_all_runs(&s->merge, &s->sort, shape, UserTimeLess{});
  return [s](uint64_t *t) {
    const UserTime *top = merge_top(s->merge);
    if (!top) return false;
    *t = top->time_ms;
    merge_pop(&s->merge);
    return true;
  };
}

// The users of a dry run that spills, read back from its spill files, with
// their first and last times in sorted runs of their own (firsts, lasts),
// from which the builder reads them; a quarter of the budget for each.
void profile_spilled_users(ProfileBuilder *b, SpilledTimes *firsts, SpilledTimes *lasts) {
  uint64_t quarter = run.spill.budget / 4;
  firsts->sort = named_run_sort<UserTime>("user_firsts");
  lasts->sort = named_run_sort<UserTime>("user_lasts");
  size_t room = std::max<size_t>(quarter / sizeof(UserTime), 16);
  firsts->buf.resize(room);
  lasts->buf.resize(room);
  b->user_times_elsewhere = true;
  SpilledUsers users;
  spilled_users_begin(&users);
  UserEntry u;
  ReqNode r;
  for (uint64_t user_no = 0; next_spilled_user(&users, &u); user_no++) {
    uint64_t first = UINT64_MAX, last = 0;
    while (next_spilled_row(&users, &r)) profile_planned_request(b, u.vvm_id, r, &first, &last);
    profile_add_user(b, u.vvm_id, first, last);
    add_time(firsts, UserTime{first, user_no});
    add_time(lasts, UserTime{last, user_no});
  }
  spilled_users_end(&users);
  b->sorted_firsts = merged_times(firsts, quarter);
  b->sorted_lasts = merged_times(lasts, quarter);
}

// The package the planned users make, fed to the profile accumulator: the
// user list, or for a run that spills, the users read back from the spill
// files.
void profile_planned_users(uint64_t bucket_ms, Profile *p) {
  ProfileBuilder b;
  profile_begin(&b, run.workers.num_vvm, bucket_ms);
  SpilledTimes firsts, lasts;
  if (run.spill.spilling) profile_spilled_users(&b, &firsts, &lasts);
  for (const UserNode *u = run.users.head; u; u = u->next) {
    uint64_t first = UINT64_MAX, last = 0;
    for (uint32_t i = 0; i < u->num_req; i++)
      profile_planned_request(&b, u->vvm_id, u->req_node[i], &first, &last);
    profile_add_user(&b, u->vvm_id, first, last);
  }
  profile_finish(&b, p);
  // What the run's manifest would tell.
  p->has_clock_and_names = true;
  p->capture_start_ms = run.records.time_zero_ms;
  for (int i = 0; i < run.services.total_services; i++)
    p->page_names.push_back(run.services.service_map_ptr[i].service_name);
  for (SpilledTimes *t : {&firsts, &lasts}) {
    merge_end(&t->merge);
    run_sort_release(&t->sort);
  }
}

struct ChildOut {
  int fd;
  PreviewReport *report;
  void warn(const std::string &text) {
    report->warnings.push_back(one_line(text));
    write_all(fd, "W " + one_line(text) + "\n");
  }
  void problem(const std::string &text) {
    report->problems.push_back(one_line(text));
    write_all(fd, "P " + one_line(text) + "\n");
  }
};

// Lists the input files; false when one of them cannot be read, which would
// end the real run in Step 2.
bool list_input_files(PreviewReport *r, ChildOut *out) {
  bool readable = true;
  for (int32_t i = 0; i < run.files.num_seq_files; i++) {
    PreviewInputFile f;
    f.path = run.files.seq_file_path[i].input_file;
    struct stat st;
    if (stat(f.path.c_str(), &st) == 0 && access(f.path.c_str(), R_OK) == 0 &&
        !S_ISDIR(st.st_mode)) {
      f.bytes = static_cast<int64_t>(st.st_size);
    } else {
      readable = false;
      out->problem("input file " + f.path + " cannot be read: the run would stop in Step 2");
    }
    r->input_files.push_back(f);
  }
  return readable;
}

[[noreturn]] void child_main(const PreviewOptions &o, int fd) {
  PreviewReport r;
  r.config = o.config;
  ChildOut out{fd, &r};
  run = RunState{};
  run.options.dry_run = 1;
  // SIGINT and SIGTERM remove the spill directory of a dry run that spills.
  install_interrupt_handlers();
  run.options.run_forcefully = o.force ? 1 : 0;
  run.options.svc_id_uses_svc_name = o.url_mode ? 0 : 1;
  // The processor count is read here rather than asked of the shell, as the
  // tool does; the worker count is the tool's default for it.
  int num_cpu = count_processors();
  run.options.commentry_req_count = messages_per_seconds * 5 * 2;
  run.workers.num_vvm = static_cast<int16_t>(clamp_default_num_vvm(num_cpu));
  setlocale(LC_ALL, "en_US");

  for (const std::string &w : config_text_warnings(read_lines(o.config))) out.warn(w);
  read_config_file_new(o.config.c_str());
  validate_config_file_data();
  choose_memory_budget();
  r.replay_dir = run.config.replay_dir;
  if (run.config.start_time_stamp && run.config.end_time_stamp &&
      run.config.start_time_stamp > run.config.end_time_stamp)
    out.warn(
        "REPLAY_PERIOD starts after it ends: no time falls in it, so every record that gets so far "
        "is rejected with code 102");
  for (const std::string &p : late_run_problems(o.force)) out.problem(p);

  gen_input_file_list();
  if (run.files.num_seq_files == 0) {
    out.problem("No request file found to process, Exiting.");
  } else if (list_input_files(&r, &out)) {
    // The loader's automatic thread count, chosen as the tool chooses it.
    if (run.options.g_num_thread == 0)
      set_num_threads(&run.options.g_num_thread, num_cpu, run.files.num_seq_files);
    load_input_data_files();
    r.loaded = true;
    r.records = run.counters.g_msgcount;
    r.accepted = run.counters.g_valid_msgcount;
    for (int32_t i = 0; i < run.files.num_seq_files; i++)
      r.input_files.at(static_cast<size_t>(i)).records =
          static_cast<uint64_t>(run.files.seq_file_path[i].msgcount);
    for (int c = 0; c < kNumRecordErrorCodes; c++)
      if (run.counters.g_rejected_by_code[c])
        r.profile.rejected_by_code[101 + c] = run.counters.g_rejected_by_code[c];
    uint64_t n = run.counters.g_valid_msgcount;
    if (n == 0) {
      out.problem("No Valid request found to process, Exiting.");
    } else {
      sort_seq_array(n);
      rename_service_names();
      append_all_headers();
      sort_seq_data_by_time(n);
      if (run.spill.spilling)
        walk_spilled_requests(false);
      else
        plan_request_entries(nullptr);
      profile_planned_users(o.bucket_ms, &r.profile);
      spill_dir_remove();
      r.package = true;
    }
  }
  write_all(fd, "R\n" + (o.json ? format_preview_json(r) : format_preview_text(r)));
  vt_exit(r.problems.empty() ? 0 : 1);
}

// Reads both pipes to their end, whichever the child fills first.
void drain(int out_fd, int err_fd, std::string *out, std::string *err) {
  struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string *into[2] = {out, err};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_fds--;
      }
    }
  }
}

std::string list_json(const std::vector<std::string> &items) {
  std::string out = "[";
  for (const std::string &s : items) {
    if (out.size() > 1) out += ',';
    out += json_string(s);
  }
  return out + "]";
}

}  // namespace

std::string format_preview_text(const PreviewReport &r) {
  std::string out = "preview: " + r.config + "\n";
  uint64_t bytes = 0;
  for (const PreviewInputFile &f : r.input_files) bytes += f.bytes > 0 ? f.bytes : 0;
  if (!r.input_files.empty()) {
    out += "  input files: " + format_count(r.input_files.size()) + ", " + format_count(bytes) +
           " bytes\n";
    for (const PreviewInputFile &f : r.input_files) {
      out += "    " + f.path + "  ";
      out += f.bytes >= 0 ? format_count(static_cast<uint64_t>(f.bytes)) + " bytes" : "unreadable";
      if (r.loaded) out += ", " + format_count(f.records) + " records";
      out += "\n";
    }
  }
  if (r.loaded)
    out += "  records met " + format_count(r.records) + ", accepted " + format_count(r.accepted) +
           ", rejected " + format_count(r.records - r.accepted) + "\n";
  if (r.package) {
    std::string text =
        format_profile_text(r.profile, "  the package the run would make in " + r.replay_dir + ":");
    out += "\n" + text;
  } else if (r.loaded) {
    uint64_t rejected = 0;
    for (const auto &[code, count] : r.profile.rejected_by_code) rejected += count;
    out += "  rejected records: " + format_count(rejected) + "\n";
    for (const auto &[code, count] : r.profile.rejected_by_code)
      out += "    code " + std::to_string(code) + " " + format_count(count) + "\n";
  }
  if (!r.warnings.empty()) {
    out += "\nwarnings:\n";
    for (const std::string &w : r.warnings) out += "  " + w + "\n";
  }
  if (!r.problems.empty()) {
    out += "\nproblems:\n";
    for (const std::string &p : r.problems) out += "  " + p + "\n";
  }
  if (r.problems.empty())
    out += "\npreview: the run would succeed\n";
  else
    out += "\npreview: the run would fail (" + std::to_string(r.problems.size()) + " problem" +
           (r.problems.size() == 1 ? "" : "s") + ")\n";
  return out;
}

std::string format_preview_json(const PreviewReport &r) {
  std::string files = "[";
  for (const PreviewInputFile &f : r.input_files) {
    if (files.size() > 1) files += ",";
    files += "{\"path\":" + json_string(f.path) + ",\"bytes\":" + std::to_string(f.bytes) +
             ",\"records\":" + std::to_string(f.records) + "}";
  }
  files += "]";
  return "{" + format_profile_json_members(r.profile) +
         ",\"records\":" + std::to_string(r.records) +
         ",\"accepted\":" + std::to_string(r.accepted) +
         ",\"replay_dir\":" + json_string(r.replay_dir) + ",\"input_files\":" + files +
         ",\"warnings\":" + list_json(r.warnings) + ",\"problems\":" + list_json(r.problems) +
         "}\n";
}

bool dry_run_finished(int wait_status, bool report_begun) {
  return WIFEXITED(wait_status) && WEXITSTATUS(wait_status) <= 1 && report_begun;
}

int run_preview(const PreviewOptions &o) {
  fflush(nullptr);
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    fprintf(stderr, "vt_package preview: cannot make a pipe: %s\n", strerror(errno));
    return 1;
  }
  pid_t pid = fork();
  if (pid < 0) {
    fprintf(stderr, "vt_package preview: cannot start the dry run: %s\n", strerror(errno));
    return 1;
  }
  if (pid == 0) {
    // The tool's console lines go nowhere; its error lines to the parent.
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0 || dup2(null_fd, 1) < 0 || dup2(err_pipe[1], 2) < 0) vt_exit(127);
    close(out_pipe[0]);
    close(err_pipe[0]);
    child_main(o, out_pipe[1]);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::string out, err;
  drain(out_pipe[0], err_pipe[0], &out, &err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  size_t report_at = std::string::npos;
  PreviewReport r;
  r.config = o.config;
  for (size_t at = 0; at < out.size();) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(at, end - at);
    if (line == "R") {
      report_at = end + 1;
      break;
    }
    if (line.size() > 2 && line[0] == 'W') r.warnings.push_back(line.substr(2));
    if (line.size() > 2 && line[0] == 'P') r.problems.push_back(line.substr(2));
    at = end + 1;
  }
  if (dry_run_finished(status, report_at != std::string::npos)) {
    fputs(err.c_str(), stderr);
    fputs(out.c_str() + report_at, stdout);
    return WEXITSTATUS(status);
  }
  // The dry run stopped where the real run would: its error lines say why.
  for (std::string &problem : dry_run_stop_problems(err)) r.problems.push_back(std::move(problem));
  if (WIFSIGNALED(status))
    r.problems.push_back("the dry run ended by signal " + std::to_string(WTERMSIG(status)));
  else if (r.problems.empty())
    r.problems.push_back("the dry run ended with status " + std::to_string(WEXITSTATUS(status)));
  fputs((o.json ? format_preview_json(r) : format_preview_text(r)).c_str(), stdout);
  return 1;
}

std::vector<std::string> dry_run_stop_problems(const std::string &err) {
  std::vector<std::string> problems;
  for (size_t at = 0; at < err.size();) {
    size_t end = err.find('\n', at);
    if (end == std::string::npos) end = err.size();
    std::string line = err.substr(at, end - at);
    if (!line.empty()) problems.push_back("the run would stop: " + line);
    at = end + 1;
  }
  return problems;
}

int count_processor_lines(FILE *fp) {
  char *line = nullptr;  // whole lines, however long
  size_t cap = 0;
  int count = 0;
  while (getline(&line, &cap, fp) > 0)
    if (strncmp(line, "processor", 9) == 0) count++;
  free(line);
  return count;
}

#include "tools/package/preview.h"

#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "base/core/input_file.h"
#include "base/package/json_string.h"
#include "tools/package/profile_report.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/driver/generate.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/run_sort.h"

namespace {

// What the child sends its parent: "R" and the finished report. A parent
// gone before it reads it wants none of it.
void write_all(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
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

// The profile of the users the dry run plans, fed by its index stage
// (PlannedUsers): each user's requests, then its first and last times.
struct PlannedProfile {
  RunState *run;
  uint64_t bucket_ms;
  bool begun = false;  // once the first user comes: the worker count is known then
  ProfileBuilder builder;
  Profile *profile;
  bool user_open = false;
  int vvm_id = 0;
  uint64_t first = UINT64_MAX, last = 0, user_no = 0;
  SpilledTimes firsts, lasts;
  Failure failure;  // of the spilled times, reported by done
};

bool add_time(PlannedProfile *pp, SpilledTimes *s, UserTime t) {
  s->buf[s->used++] = t;
  if (s->used < s->buf.size()) return true;
  s->used = 0;
  return sort_into_run(*pp->run, &s->sort, s->buf.data(), s->buf.size(), UserTimeLess{},
                       &pp->failure);
}

void end_user(PlannedProfile *pp) {
  if (!pp->user_open) return;
  pp->user_open = false;
  profile_add_user(&pp->builder, pp->vvm_id, pp->first, pp->last);
  if (pp->builder.user_times_elsewhere && pp->failure.status == 0) {
    add_time(pp, &pp->firsts, UserTime{pp->first, pp->user_no}) &&
        add_time(pp, &pp->lasts, UserTime{pp->last, pp->user_no});
  }
  pp->user_no++;
}

// The profile of a run that spills keeps the users' times in sorted runs of
// its own, a quarter of the budget for each.
void begin_planned_profile(PlannedProfile *pp) {
  const RunState &run = *pp->run;
  pp->begun = true;
  profile_begin(&pp->builder, run.workers.num_vvm, pp->bucket_ms);
  if (!run.spill.spilling) return;
  size_t room = std::max<size_t>(run.spill.budget / 4 / sizeof(UserTime), 16);
  pp->firsts.sort = named_run_sort<UserTime>("user_firsts");
  pp->lasts.sort = named_run_sort<UserTime>("user_lasts");
  pp->firsts.buf.resize(room);
  pp->lasts.buf.resize(room);
  pp->builder.user_times_elsewhere = true;
}

void planned_user(void *context, int vvm_id, uint64_t) {
  auto *pp = static_cast<PlannedProfile *>(context);
  if (!pp->begun) begin_planned_profile(pp);
  end_user(pp);
  pp->user_open = true;
  pp->vvm_id = vvm_id;
  pp->first = UINT64_MAX;
  pp->last = 0;
}

void planned_request(void *context, const ReqNode &r) {
  auto *pp = static_cast<PlannedProfile *>(context);
  const ServiceMap &svc = pp->run->services.service_map_ptr[r.page_id];
  uint64_t body = 0;
  // "Content-Length: " and "\r\n\r\n" around the value, "\n" after the body.
  body_size_of_entry(r.size, static_cast<uint64_t>(svc.all_headers_len) + 21, &body);
  profile_add_request(&pp->builder, pp->vvm_id, r.page_id, r.time_stamp, r.size, body);
  pp->first = std::min<uint64_t>(pp->first, r.time_stamp);
  pp->last = std::max<uint64_t>(pp->last, r.time_stamp);
}

// The times in ascending order, merged with at most share bytes.
bool merged_times(PlannedProfile *pp, SpilledTimes *s, uint64_t share, TimeSource *source,
                  Failure *err) {
  RunState &run = *pp->run;
  if (!sort_into_run(run, &s->sort, s->buf.data(), s->used, UserTimeLess{}, err)) return false;
  s->buf = {};
  MergeShape shape = merge_shape(share, sizeof(UserTime));
  if (!merge_all_runs(run, &s->merge, &s->sort, shape, UserTimeLess{}, err)) return false;
  *source = [s, pp](uint64_t *t) {
    const UserTime *top = merge_top(s->merge);
    if (!top) return false;
    *t = top->time_ms;
    return merge_pop(&s->merge, &pp->failure);
  };
  return true;
}

// After the last user, while the spill files are still there: the profile
// made whole.
bool planned_done(void *context, Failure *err) {
  auto *pp = static_cast<PlannedProfile *>(context);
  if (!pp->begun) begin_planned_profile(pp);
  end_user(pp);
  if (pp->failure.status) return *err = pp->failure, false;
  uint64_t quarter = pp->run->spill.budget / 4;
  if (pp->builder.user_times_elsewhere &&
      (!merged_times(pp, &pp->firsts, quarter, &pp->builder.sorted_firsts, err) ||
       !merged_times(pp, &pp->lasts, quarter, &pp->builder.sorted_lasts, err)))
    return false;
  profile_finish(&pp->builder, pp->profile);
  for (SpilledTimes *t : {&pp->firsts, &pp->lasts}) {
    merge_end(&t->merge);
    run_sort_release(&t->sort);
  }
  if (pp->failure.status) return *err = pp->failure, false;
  return true;
}

// What the dry run found, for its report.
void fill_report(const RunState &run, PreviewReport *r) {
  r->replay_dir = run.config.replay_dir;
  for (int32_t i = 0; i < run.files.num_seq_files; i++) {
    PreviewInputFile f;
    f.path = run.files.seq_file_path[i].input_file;
    struct stat st;
    if (stat(f.path.c_str(), &st) == 0 && access(f.path.c_str(), R_OK) == 0 && !S_ISDIR(st.st_mode))
      f.bytes = static_cast<int64_t>(st.st_size);
    r->input_files.push_back(f);
  }
  r->loaded = stage_completed(run, "Step 2") || run.counters.g_msgcount > 0;
  if (!r->loaded) return;
  r->records = run.counters.g_msgcount;
  r->accepted = run.counters.g_valid_msgcount;
  for (int32_t i = 0; i < run.files.num_seq_files; i++)
    r->input_files[static_cast<size_t>(i)].records =
        static_cast<uint64_t>(run.files.seq_file_path[i].msgcount);
  for (int c = 0; c < kNumRecordErrorCodes; c++)
    if (run.counters.rejected_by_code[c])
      r->profile.rejected_by_code[101 + c] = run.counters.rejected_by_code[c];
  r->package = stage_completed(run, "index files");
  if (!r->package) return;
  // What the run's manifest would tell.
  r->profile.has_clock_and_names = true;
  r->profile.capture_start_ms = run.records.time_zero_ms;
  for (int i = 0; i < run.services.total_services; i++)
    r->profile.page_names.push_back(run.services.service_map_ptr[i].service_name);
}

[[noreturn]] void child_main(const PreviewOptions &o, int fd) {
  PreviewReport r;
  r.config = o.config;
  auto run = std::make_unique<RunState>();
  run->log.quiet = true;
  run->options.config_path = o.config;
  run->options.run_forcefully = o.force ? 1 : 0;
  run->options.svc_id_uses_svc_name = o.url_mode ? 0 : 1;
  // The processor count is read here rather than asked of the shell, as the
  // tool does; the worker count is the tool's default for it.
  run->options.num_cpu = count_processors();
  run->options.commentry_req_count = messages_per_seconds * 5 * 2;
  run->workers.num_vvm =
      static_cast<int16_t>(clamp_default_num_vvm(run->log, run->options.num_cpu));
  setlocale(LC_ALL, "en_US");
  // SIGINT and SIGTERM remove the spill directory of a dry run that spills.
  install_interrupt_handlers();
  PlannedProfile pp;
  pp.run = run.get();
  pp.bucket_ms = o.bucket_ms;
  pp.profile = &r.profile;
  PlannedUsers planned{&pp, planned_user, planned_request, planned_done};
  run->options.planned_users = &planned;
  Failure err;
  generate(*run, Mode::kDryRun, &err);
  std::vector<std::string> own = config_text_warnings(read_lines(o.config));
  r.warnings = run->dry.warnings;
  r.warnings.insert(r.warnings.end(), own.begin(), own.end());
  if (stage_completed(*run, "configuration") && run->config.start_time_stamp &&
      run->config.end_time_stamp && run->config.start_time_stamp > run->config.end_time_stamp)
    r.warnings.push_back(
        "REPLAY_PERIOD starts after it ends: no time falls in it, so every record that gets so far "
        "is rejected with code 102");
  r.problems = run->dry.problems;
  fill_report(*run, &r);
  write_all(fd, "R\n" + (o.json ? format_preview_json(r) : format_preview_text(r)));
  fflush(nullptr);
  _exit(r.problems.empty() ? 0 : 1);
}

// Reads the pipe to its end.
std::string drain(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(fd);
      return out;
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
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    fprintf(stderr, "vt_package preview: cannot make a pipe: %s\n", strerror(errno));
    return 1;
  }
  pid_t pid = fork();
  if (pid < 0) {
    fprintf(stderr, "vt_package preview: cannot start the dry run: %s\n", strerror(errno));
    return 1;
  }
  if (pid == 0) {
    // The dry run's console is quiet; its standard output goes nowhere all
    // the same.
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0 || dup2(null_fd, 1) < 0) _exit(127);
    close(out_pipe[0]);
    child_main(o, out_pipe[1]);
  }
  close(out_pipe[1]);
  std::string out = drain(out_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  bool begun = out.compare(0, 2, "R\n") == 0;
  if (dry_run_finished(status, begun)) {
    fputs(out.c_str() + 2, stdout);
    return WEXITSTATUS(status);
  }
  PreviewReport r;
  r.config = o.config;
  if (WIFSIGNALED(status))
    r.problems.push_back("the dry run ended by signal " + std::to_string(WTERMSIG(status)));
  else
    r.problems.push_back("the dry run ended with status " + std::to_string(WEXITSTATUS(status)));
  fputs((o.json ? format_preview_json(r) : format_preview_text(r)).c_str(), stdout);
  return 1;
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

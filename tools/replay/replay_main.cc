// vt_replay: sends a replay package to a server at its recorded times and
// reports what came back. Exit status: 0 passed, 1 a broken package, target
// or report, 2 a usage error, 3 a threshold crossed (given no threshold: a
// request failed), 130 stopped by SIGINT, 143 by SIGTERM.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "base/core/safe_file.h"
#include "base/core/std_descriptors.h"
#include "base/core/utc_time.h"
#include "base/figures/replay_html.h"
#include "base/figures/replay_report.h"
#include "base/figures/replay_results.h"
#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_merge.h"
#include "tools/replay/replay_modes.h"
#include "tools/replay/replay_options.h"
#include "tools/replay/replay_outputs.h"
#include "tools/replay/replay_package.h"
#include "tools/replay/replay_target.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

constexpr int kStatusBroken = 1, kStatusUsage = 2, kStatusThresholds = 3;

int fail(const char *what, const std::string &error, int status) {
  fprintf(stderr, "vt_replay: %s: %s\n", what, error.c_str());
  fflush(nullptr);
  return status;
}

int64_t clock_us(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The signal that stopped the run (SIGINT or SIGTERM), read from the
// descriptor the loop watched; 0 when none came.
int stop_signal(int stop_fd) {
  signalfd_siginfo si;
  if (stop_fd < 0 || read(stop_fd, &si, sizeof si) != static_cast<ssize_t>(sizeof si)) return 0;
  return static_cast<int>(si.ssi_signo);
}

// 130 after SIGINT, 143 after SIGTERM, as a shell reports a death by them.
int signal_status(int signo) {
  return 128 + signo;
}

// Waits for --start-at; the start on CLOCK_MONOTONIC in ns, or 0 when the
// time has passed (*late_s set) or a signal came (*signo set).
int64_t wait_for_start(int64_t start_unix_us, int stop_fd, FILE *progress, double *late_s,
                       int *signo) {
  int64_t wait_us = start_unix_us - clock_us(CLOCK_REALTIME);
  if (wait_us < 0) {
    *late_s = static_cast<double>(-wait_us) / 1e6;
    return 0;
  }
  int64_t start_ns = (clock_us(CLOCK_MONOTONIC) + wait_us) * 1000;
  if (progress && wait_us > 1000000)
    fprintf(progress, "vt_replay: waiting %.0f s for --start-at %s\n",
            static_cast<double>(wait_us) / 1e6,
            vtlb_utc_text(static_cast<uint64_t>(start_unix_us / 1000)).c_str());
  // The last few ms are the sending loop's own: its timer is exact.
  while (true) {
    int64_t left_ms = (start_ns / 1000 - clock_us(CLOCK_MONOTONIC)) / 1000 - 5;
    if (left_ms <= 0) return start_ns;
    pollfd pfd{stop_fd, POLLIN, 0};
    int n = poll(&pfd, stop_fd >= 0 ? 1 : 0, static_cast<int>(left_ms > 1000 ? 1000 : left_ms));
    if (n > 0 && (*signo = stop_signal(stop_fd)) != 0) return 0;
  }
}

// What the report needs besides the figures; the thresholds are checked here.
ReplayReportInfo replay_report_info(const ReplayOptions &o, const ReplayTarget &t,
                                    const ReplayReportInfo &names, const ReplayStats &s) {
  ReplayReportInfo info;
  info.dir = o.dir;
  info.target = t.text;
  info.command = o.command_line;
  info.speed = o.speed;
  info.mode = replay_mode_text(o.mode, o.speed);
  info.ok_status = o.ok_status;
  info.tls = t.tls.ctx != nullptr;
  info.tls_verified = info.tls && t.tls.verify;
  info.tls_name = t.tls.name;
  info.rewrites = o.headers;
  info.path_rules = o.paths;
  info.capture_start_ms = names.capture_start_ms;
  info.page_names = names.page_names;
  info.package_id = names.package_id;
  info.thresholds = check_replay_thresholds(replay_thresholds_with_default(o.thresholds), s);
  if (o.shard.count > 1)
    info.shard = std::to_string(o.shard.index) + "/" + std::to_string(o.shard.count);
  return info;
}

// Everything a run holds open, given back on every way out.
struct RunFiles {
  ReplayPackage package;
  ReplayTarget target;
  ReplayOutput json, results, html;
  ReplayResultsFile results_file;
  int stop_fd = -1;
};

void release_run_files(RunFiles *f, bool drop_outputs) {
  close_replay_package(&f->package);
  release_replay_target(&f->target);
  if (drop_outputs) {
    for (ReplayOutput *out : {&f->json, &f->results, &f->html}) drop_replay_output(out);
    f->results_file.fd = -1;  // closed with its output
  }
}

// Makes the outputs and starts the results file; the exit status of a
// failure, 0 when all are made.
int make_outputs(const ReplayOptions &o, RunFiles *f) {
  f->json = {"--json", "the report goes", o.json_path};
  f->results = {"--results", "the results go", o.results_path};
  f->html = {"--html", "the page goes", o.html_path};
  const ReplayOutput *failed = nullptr;
  std::string error;
  if (!make_replay_outputs({&f->json, &f->results, &f->html}, &failed, &error))
    return fail(failed->option, error, kStatusBroken);
  if (!o.results_path.empty() &&
      !begin_results_file(o.results_path, f->results.fd, &f->results_file, &error)) {
    release_run_files(f, true);
    return fail("--results", error, kStatusBroken);
  }
  return 0;
}

// SIGINT and SIGTERM stop the sending alike: the loop sees them through a
// descriptor, and the run ends with its report.
int watch_stop_signals() {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) return -1;
  return signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Writes the report and the page; the exit status of a failure, 0 when
// both are written.
int write_reports(const ReplayOptions &o, const ReplayReportInfo &info, const ReplayStats &stats,
                  RunFiles *f) {
  std::string error;
  if (!o.json_path.empty() &&
      !write_replay_output(&f->json, replay_report_json(info, stats), &error)) {
    drop_replay_output(&f->html);
    return fail("--json", error, kStatusBroken);
  }
  if (!o.html_path.empty() &&
      !write_replay_output(&f->html, render_replay_html(info, stats, o.dir), &error))
    return fail("--html", error, kStatusBroken);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors())
    return fail(
        "start",
        std::string("cannot open /dev/null for a closed standard descriptor: ") + strerror(errno),
        1);
  if (argc > 1 && strcmp(argv[1], "merge") == 0) return replay_merge_main(argc - 1, argv + 1);
  ReplayOptions o;
  std::string error;
  switch (parse_replay_options(argc, argv, &o, &error)) {
    case ReplayCommand::kHelp:
      print_replay_usage(stdout);
      return 0;
    case ReplayCommand::kVersion:
      printf("vt_replay %s\n", VT_VERSION);
      return 0;
    case ReplayCommand::kUsageError:
      fprintf(stderr, "vt_replay: %s\n", error.c_str());
      print_replay_usage(stderr);
      return kStatusUsage;
    case ReplayCommand::kRun:
      break;
  }
  if (o.shard_auto && !resolve_auto_shard(getenv("JOB_COMPLETION_INDEX"), &o.shard, &error))
    return fail("--shard", error, kStatusUsage);
  RunFiles f;
  if (!open_replay_package(o.dir, o.workers, &f.package, &error, o.shard, o.trust_foreign_files)) {
    close_replay_package(&f.package);
    return fail("reading package", error, kStatusBroken);
  }
  // Shards and runs on several machines keep the package's own time 0.
  if (o.shard.count > 1 || o.start_at_unix_us > 0) f.package.base_ms = 0;
  ReplayPlan plan;
  if (!replay_schedule_fits(f.package, o.speed, &error) ||
      !make_replay_plan(o.mode, o.speed, o.duration_s, f.package, &plan, &error)) {
    close_replay_package(&f.package);
    return fail("reading package", error, kStatusBroken);
  }
  ReplayReportInfo names;
  if (f.package.files.manifest_state == ManifestState::kRead) {
    add_manifest_to_report(f.package.files.manifest, &names);
    names.package_id = f.package.files.manifest.identity;
  }
  // A server that closes its end first fails a write, not the whole run:
  // the probe's TLS goodbye is the first write that may meet one.
  signal(SIGPIPE, SIG_IGN);
  if ((o.target.scheme == ReplayScheme::kHttps &&
       !make_replay_tls(replay_tls_name(o), o.cacert, o.insecure, &f.target.tls, &error)) ||
      !resolve_replay_target(o.target, &f.target, &error) ||
      !probe_replay_target(f.target, o.timeout_ms, &error)) {
    release_run_files(&f, false);
    return fail("target", error, kStatusBroken);
  }
  // From here on a signal ends the run with its report, and every output is
  // made before the first request.
  f.stop_fd = watch_stop_signals();
  if (int status = make_outputs(o, &f)) {
    release_run_files(&f, false);
    return status;
  }
  ReplayRunContext ctx;
  ctx.stop_fd = f.stop_fd;
  ctx.progress_out = !o.quiet && isatty(STDERR_FILENO) ? stderr : nullptr;
  winsize ws;
  if (ctx.progress_out && ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0)
    ctx.progress_width = ws.ws_col;
  ctx.results = o.results_path.empty() ? nullptr : &f.results_file;
  ctx.capture_start_ms = names.capture_start_ms;
  if (o.start_at_unix_us > 0) {
    double late_s = 0;
    int signo = 0;
    ctx.start_ns = wait_for_start(o.start_at_unix_us, f.stop_fd, ctx.progress_out, &late_s, &signo);
    ctx.start_unix_us = o.start_at_unix_us;
    if (ctx.start_ns == 0) {
      release_run_files(&f, true);
      if (signo)
        return fail("--start-at",
                    std::string(signo == SIGTERM ? "SIGTERM" : "interrupted") +
                        " while waiting; nothing was sent",
                    signal_status(signo));
      char late[64];
      snprintf(late, sizeof late, "%.3f", late_s);
      return fail("--start-at",
                  vtlb_utc_text(static_cast<uint64_t>(o.start_at_unix_us / 1000)) + " passed " +
                      late + " s before the replay could begin; give a later time",
                  kStatusBroken);
    }
  }

  ReplayStats stats;
  bool ok = run_replay(o, &f.package, f.target, ctx, &stats, &error);
  int signo = 0;
  if (stats.stopped_by == "interrupt" && (signo = stop_signal(f.stop_fd)) == 0) signo = SIGINT;
  if (signo == SIGTERM) stats.stopped_by = "SIGTERM";
  ReplayReportInfo info = replay_report_info(o, f.target, names, stats);
  release_run_files(&f, false);
  std::string results_error;
  bool results_ok = o.results_path.empty() || close_results_file(&f.results_file, &results_error);
  print_replay_report(stdout, info, stats);
  if (fflush(stdout) != 0 || ferror(stdout)) {
    for (ReplayOutput *out : {&f.json, &f.html}) drop_replay_output(out);
    return fail("report", std::string("cannot write standard output: ") + strerror(errno),
                kStatusBroken);
  }
  // The reports of a run that could not go on tell what it did until then.
  int written = write_reports(o, info, stats, &f);
  if (!ok) return fail("replay", error, kStatusBroken);
  if (!results_ok) return fail("--results", results_error, kStatusBroken);
  if (written) return written;
  fflush(nullptr);
  if (signo) return signal_status(signo);
  return replay_passed(info) ? 0 : kStatusThresholds;
}

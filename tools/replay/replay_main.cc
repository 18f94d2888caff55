// vt_replay: sends a replay package to a server at its recorded times and
// reports what came back. Exit status: 0 passed, 1 a broken package, target
// or report, 2 a usage error, 3 a threshold crossed, 130 interrupted.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
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
#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_html.h"
#include "tools/replay/replay_merge.h"
#include "tools/replay/replay_options.h"
#include "tools/replay/replay_package.h"
#include "tools/replay/replay_report.h"
#include "tools/replay/replay_results.h"
#include "tools/replay/replay_target.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

constexpr int kStatusBroken = 1, kStatusUsage = 2, kStatusThresholds = 3, kStatusInterrupted = 130;

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

// Waits for --start-at; the start on CLOCK_MONOTONIC in ns, or 0 when the
// time has passed (*late_s set) or SIGINT came (*interrupted set).
int64_t wait_for_start(int64_t start_unix_us, int stop_fd, FILE *progress, double *late_s,
                       bool *interrupted) {
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
    if (n > 0) {
      *interrupted = true;
      return 0;
    }
  }
}

// What the report needs besides the figures; the thresholds are checked here.
ReplayReportInfo replay_report_info(const ReplayOptions &o, const ReplayTarget &t,
                                    const ReplayStats &s) {
  ReplayReportInfo info;
  info.dir = o.dir;
  info.target = t.text;
  info.command = o.command_line;
  info.speed = o.speed;
  info.ok_status = o.ok_status;
  info.tls = t.tls.ctx != nullptr;
  info.tls_verified = info.tls && t.tls.verify;
  info.tls_name = t.tls.name;
  info.rewrites = o.headers;
  info.thresholds = check_replay_thresholds(o.thresholds, s);
  if (o.shard.count > 1)
    info.shard = std::to_string(o.shard.index) + "/" + std::to_string(o.shard.count);
  return info;
}

}  // namespace

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors())
    return fail(
        "start",
        std::string("cannot open /dev/null for a closed standard descriptor: ") + strerror(errno),
        1);
  if (argc > 1 && strcmp(argv[1], "merge") == 0) return replay_merge_main(argc - 2, argv + 2);
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
  struct stat st;
  struct Output {
    const char *option;
    const std::string &path;
    const char *what;
  } outputs[] = {{"--json", o.json_path, "the report goes"},
                 {"--results", o.results_path, "the results go"},
                 {"--html", o.html_path, "the page goes"}};
  for (const Output &out : outputs)
    if (!out.path.empty() && lstat(out.path.c_str(), &st) == 0)
      return fail(out.option, out.path + " exists already; " + out.what + " into a new file",
                  kStatusBroken);
  ReplayPackage package;
  if (!open_replay_package(o.dir, o.workers, &package, &error, o.shard, o.trust_foreign_files))
    return fail("reading package", error, kStatusBroken);
  // Shards and runs on several machines keep the package's own time 0.
  if (o.shard.count > 1 || o.start_at_unix_us > 0) package.base_ms = 0;
  if (!replay_schedule_fits(package, o.speed, &error))
    return fail("reading package", error, kStatusBroken);
  ReplayReportInfo names;
  if (package.files.manifest_state == ManifestState::kRead)
    add_manifest_to_report(package.files.manifest, &names);
  // A server that closes its end first fails a write, not the whole run:
  // the probe's TLS goodbye is the first write that may meet one.
  signal(SIGPIPE, SIG_IGN);
  ReplayTarget target;
  if (o.target.scheme == ReplayScheme::kHttps &&
      !make_replay_tls(replay_tls_name(o), o.cacert, o.insecure, &target.tls, &error))
    return fail("target", error, kStatusBroken);
  if (!resolve_replay_target(o.target, &target, &error) ||
      !probe_replay_target(target, o.timeout_ms, &error)) {
    release_replay_target(&target);
    return fail("target", error, kStatusBroken);
  }
  ReplayResultsFile results;
  if (!o.results_path.empty() && !open_results_file(o.results_path, &results, &error)) {
    release_replay_target(&target);
    close_results_file(&results, &error);
    return fail("--results", error, kStatusBroken);
  }

  // SIGINT stops the sending; the loop sees it through a descriptor.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  int stop_fd = -1;
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) == 0) stop_fd = signalfd(-1, &mask, SFD_CLOEXEC);
  ReplayRunContext ctx;
  ctx.stop_fd = stop_fd;
  ctx.progress_out = !o.quiet && isatty(STDERR_FILENO) ? stderr : nullptr;
  winsize ws;
  if (ctx.progress_out && ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0)
    ctx.progress_width = ws.ws_col;
  ctx.results = o.results_path.empty() ? nullptr : &results;
  ctx.capture_start_ms = names.capture_start_ms;
  if (o.start_at_unix_us > 0) {
    double late_s = 0;
    bool interrupted = false;
    ctx.start_ns =
        wait_for_start(o.start_at_unix_us, stop_fd, ctx.progress_out, &late_s, &interrupted);
    ctx.start_unix_us = o.start_at_unix_us;
    if (ctx.start_ns == 0) {
      close_replay_package(&package);
      release_replay_target(&target);
      close_results_file(&results, &error);
      if (interrupted)
        return fail("--start-at", "interrupted while waiting; nothing was sent",
                    kStatusInterrupted);
      char late[64];
      snprintf(late, sizeof late, "%.3f", late_s);
      return fail("--start-at",
                  vtlb_utc_text(static_cast<uint64_t>(o.start_at_unix_us / 1000)) + " passed " +
                      late + " s before the replay could begin; give a later time",
                  kStatusBroken);
    }
  }

  ReplayStats stats;
  bool ok = run_replay(o, &package, target, ctx, &stats, &error);
  close_replay_package(&package);
  ReplayReportInfo info = replay_report_info(o, target, stats);
  info.capture_start_ms = names.capture_start_ms;
  info.page_names = names.page_names;
  release_replay_target(&target);
  std::string results_error;
  bool results_ok = o.results_path.empty() || close_results_file(&results, &results_error);
  print_replay_report(stdout, info, stats);
  if (fflush(stdout) != 0 || ferror(stdout))
    return fail("report", std::string("cannot write standard output: ") + strerror(errno),
                kStatusBroken);
  if (!ok) return fail("replay", error, kStatusBroken);
  if (!results_ok) return fail("--results", results_error, kStatusBroken);
  if (!o.json_path.empty() &&
      !vtlb_write_new_file(o.json_path, replay_report_json(info, stats), &error))
    return fail("--json", error, kStatusBroken);
  if (!o.html_path.empty() &&
      !vtlb_write_new_file(o.html_path, render_replay_html(info, stats, o.dir), &error))
    return fail("--html", error, kStatusBroken);
  fflush(nullptr);
  if (stats.stopped_by == "interrupt") return kStatusInterrupted;
  return replay_passed(info) ? 0 : kStatusThresholds;
}

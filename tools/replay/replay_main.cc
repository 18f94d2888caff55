// vt_replay: sends a replay package to a server at its recorded times and
// reports what came back. Exit status: 0 passed, 1 a broken package, target
// or report, 2 a usage error, 3 a threshold crossed, 130 interrupted.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/core/safe_file.h"
#include "base/core/std_descriptors.h"
#include "tools/replay/replay_engine.h"
#include "tools/replay/replay_options.h"
#include "tools/replay/replay_package.h"
#include "tools/replay/replay_report.h"
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

}  // namespace

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors())
    return fail("start", std::string("cannot open /dev/null for a closed standard descriptor: ") +
                             strerror(errno), 1);
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
  if (!o.json_path.empty() && lstat(o.json_path.c_str(), &st) == 0)
    return fail("--json", o.json_path + " exists already; the report goes into a new file",
                kStatusBroken);
  ReplayPackage package;
  if (!open_replay_package(o.dir, o.workers, &package, &error))
    return fail("reading package", error, kStatusBroken);
  ReplayTarget target;
  if (o.target.scheme == ReplayScheme::kHttps &&
      !make_replay_tls(replay_tls_name(o), o.cacert, o.insecure, &target.tls, &error))
    return fail("target", error, kStatusBroken);
  if (!resolve_replay_target(o.target, &target, &error) ||
      !probe_replay_target(target, o.timeout_ms, &error)) {
    release_replay_target(&target);
    return fail("target", error, kStatusBroken);
  }

  // SIGINT stops the sending; the loop sees it through a descriptor.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  int stop_fd = -1;
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) == 0) stop_fd = signalfd(-1, &mask, SFD_CLOEXEC);
  FILE *progress = !o.quiet && isatty(STDERR_FILENO) ? stderr : nullptr;

  ReplayStats stats;
  bool ok = run_replay(o, &package, target, stop_fd, progress, &stats, &error);
  close_replay_package(&package);
  ReplayReportInfo info = replay_report_info(o, target, stats);
  release_replay_target(&target);
  print_replay_report(stdout, info, stats);
  if (fflush(stdout) != 0 || ferror(stdout))
    return fail("report", std::string("cannot write standard output: ") + strerror(errno),
                kStatusBroken);
  if (!ok) return fail("replay", error, kStatusBroken);
  if (!o.json_path.empty() &&
      !vtlb_write_new_file(o.json_path, replay_report_json(info, stats), &error))
    return fail("--json", error, kStatusBroken);
  fflush(nullptr);
  if (std::string(stats.stopped_by) == "interrupt") return kStatusInterrupted;
  return replay_passed(info) ? 0 : kStatusThresholds;
}

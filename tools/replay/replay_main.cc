// vt_replay: sends a replay package to a server at its recorded times and
// reports what came back.
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

namespace {

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
      printf("%s\n", kReplayVersion);
      return 0;
    case ReplayCommand::kUsageError:
      fprintf(stderr, "vt_replay: %s\n", error.c_str());
      print_replay_usage(stderr);
      return 2;
    case ReplayCommand::kRun:
      break;
  }
  struct stat st;
  if (!o.json_path.empty() && lstat(o.json_path.c_str(), &st) == 0)
    return fail("--json", o.json_path + " exists already; the report goes into a new file", 1);
  ReplayPackage package;
  if (!open_replay_package(o.dir, o.workers, &package, &error))
    return fail("reading package", error, 1);
  ReplayTarget target;
  if (!resolve_replay_target(o.host, o.port, &target, &error) ||
      !probe_replay_target(target, o.timeout_ms, &error))
    return fail("target", error, 1);

  // SIGINT stops the sending; the loop sees it through a descriptor.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  int stop_fd = -1;
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) == 0) stop_fd = signalfd(-1, &mask, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);
  FILE *progress = !o.quiet && isatty(STDERR_FILENO) ? stderr : nullptr;

  ReplayStats stats;
  bool ok = run_replay(o, &package, target, stop_fd, progress, &stats, &error);
  close_replay_package(&package);
  ReplayReportInfo info{o.dir, target.text, o.speed};
  print_replay_report(stdout, info, stats);
  if (fflush(stdout) != 0 || ferror(stdout))
    return fail("report", std::string("cannot write standard output: ") + strerror(errno), 1);
  if (!ok) return fail("replay", error, 1);
  if (!o.json_path.empty() &&
      !vtlb_write_new_file(o.json_path, replay_report_json(info, stats), &error))
    return fail("--json", error, 1);
  fflush(nullptr);
  return std::string(stats.stopped_by) == "interrupt" ? 130 : 0;
}

// vt_sink: a small HTTP/1.1 server on 127.0.0.1 that answers every request,
// for trying vt_replay without a service of one's own.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <string>

#include "base/core/safe_file.h"
#include "base/core/std_descriptors.h"
#include "tools/sink/sink_options.h"
#include "tools/sink/sink_server.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

namespace {

int fail(const char *what, const std::string &error) {
  fprintf(stderr, "vt_sink: %s: %s\n", what, error.c_str());
  return 1;
}

bool write_number_file(const std::string &path, long number, std::string *error) {
  return vtlb_write_new_file(path, std::to_string(number) + "\n", error);
}

}  // namespace

int main(int argc, char **argv) {
  if (!vtlb_open_std_descriptors())
    return fail("start", std::string("cannot open /dev/null for a closed standard descriptor: ") +
                             strerror(errno));
  SinkOptions o;
  std::string error;
  switch (parse_sink_options(argc, argv, &o, &error)) {
    case SinkCommand::kHelp:
      print_sink_usage(stdout);
      return 0;
    case SinkCommand::kVersion:
      printf("vt_sink %s\n", VT_VERSION);
      return 0;
    case SinkCommand::kUsageError:
      fprintf(stderr, "vt_sink: %s\n", error.c_str());
      fprintf(stderr, "Try 'vt_sink --help' for more information.\n");
      return 2;
    case SinkCommand::kRun:
      break;
  }
  // Many clients may hold connections open at once.
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  int port = 0;
  int listen_fd = open_sink_listener(o.port, &port, &error);
  if (listen_fd < 0) return fail("listening", error);
  if (!o.port_file.empty() && !write_number_file(o.port_file, port, &error))
    return fail("--port-file", error);
  // SIGTERM and SIGINT end the serving; the loop sees them through a descriptor.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (o.background) {
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) return fail("--background", strerror(errno));
    if (child > 0) {
      // The port is taken and listened on already: the caller may connect now.
      if (!o.pid_file.empty() && !write_number_file(o.pid_file, child, &error)) {
        kill(child, SIGTERM);
        return fail("--pid-file", error);
      }
      return 0;
    }
    setsid();
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null_fd >= 0) {
      dup2(null_fd, STDIN_FILENO);
      close(null_fd);
    }
  } else if (!o.pid_file.empty() && !write_number_file(o.pid_file, getpid(), &error)) {
    return fail("--pid-file", error);
  }
  int stop_fd = signalfd(-1, &mask, SFD_CLOEXEC);
  SinkCounts counts;
  bool ok = run_sink(listen_fd, o, stop_fd, &counts, &error);
  close(listen_fd);
  if (!o.quiet) print_sink_summary(stdout, port, counts);
  if (fflush(stdout) != 0 && !o.background) return fail("summary", strerror(errno));
  if (!ok) return fail("serving", error);
  return 0;
}

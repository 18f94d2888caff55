#include "base/core/group_cmd.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr size_t kCmdNoteSize = 400;
// How long a group has after SIGTERM, and after SIGKILL, to be gone.
constexpr int kTermGraceMs = 2000;
constexpr int kKillGraceMs = 5000;
constexpr int kPollStepMs = 10;

volatile sig_atomic_t running_pid = 0;
char running_cmd[kCmdNoteSize];
// The write end of the pipe that wakes the waiting caller when a child ends.
volatile sig_atomic_t wake_fd = -1;

extern "C" void on_child_end(int) {
  int saved = errno;
  int fd = wake_fd;
  if (fd >= 0) {
    char byte = 0;
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleep_ms(long ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool set_fd_flags(int fd) {
  return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 &&
         fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

void close_fd(int *fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// The shell and the group it leads, as the caller waits for them.
struct Waited {
  pid_t pid;
  bool reaped = false;
  int status = -1;
};

void reap(Waited *w) {
  if (w->reaped) return;
  int status;
  pid_t r = waitpid(w->pid, &status, WNOHANG);
  if (r == w->pid) {
    w->reaped = true;
    w->status = status;
  } else if (r < 0 && errno == ECHILD) {
    w->reaped = true;  // by someone else: its status is lost
  }
}

bool group_gone(Waited *w) {
  reap(w);
  return kill(-w->pid, 0) != 0 && errno == ESRCH;
}

bool wait_gone(Waited *w, int ms) {
  for (int waited = 0; waited < ms; waited += kPollStepMs) {
    if (group_gone(w)) return true;
    sleep_ms(kPollStepMs);
  }
  return group_gone(w);
}

// Starts the shell in its own group, the signals as a new program expects
// them, input from /dev/null, output to the pipe when one is given. Spawned
// rather than forked: a fork of a large process copies its page tables.
// Returns 0 or the error number.
int spawn_shell(const char *cmd, int devnull, int out_fd, const sigset_t *mask, pid_t *pid) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  int err = posix_spawn_file_actions_init(&actions);
  if (err) return err;
  err = posix_spawnattr_init(&attr);
  if (err) {
    posix_spawn_file_actions_destroy(&actions);
    return err;
  }
  // Caught signals return to their defaults at exec; ignored SIGINT and
  // SIGTERM stay ignored, as a shell started in the background expects.
  sigset_t dfl;
  sigemptyset(&dfl);
  sigaddset(&dfl, SIGCHLD);
  err = posix_spawnattr_setflags(
      &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  if (!err) err = posix_spawnattr_setpgroup(&attr, 0);
  if (!err) err = posix_spawnattr_setsigmask(&attr, mask);
  if (!err) err = posix_spawnattr_setsigdefault(&attr, &dfl);
  // A dup2 onto the descriptor itself clears its close-on-exec.
  if (!err) err = posix_spawn_file_actions_adddup2(&actions, devnull, STDIN_FILENO);
  if (!err && out_fd >= 0) err = posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  char sh[] = "sh", dash_c[] = "-c";
  char *argv[] = {sh, dash_c, const_cast<char *>(cmd), nullptr};
  if (!err) err = posix_spawn(pid, "/bin/sh", &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return err;
}

void note_command(const std::string &cmd) {
  size_t room = sizeof running_cmd - 1;
  if (cmd.size() <= room) {
    memcpy(running_cmd, cmd.data(), cmd.size());
    running_cmd[cmd.size()] = '\0';
    return;
  }
  memcpy(running_cmd, cmd.data(), room - 3);
  memcpy(running_cmd + room - 3, "...", 4);
}

}  // namespace

pid_t vtlb_running_group() {
  return running_pid;
}

const char *vtlb_running_group_cmd() {
  return running_cmd;
}

int vtlb_end_group(pid_t pid) {
  Waited w{pid};
  kill(-pid, SIGTERM);
  if (!wait_gone(&w, kTermGraceMs)) {
    kill(-pid, SIGKILL);
    wait_gone(&w, kKillGraceMs);
  }
  return w.status;
}

GroupCmdResult vtlb_run_group_cmd(const std::string &cmd, int64_t limit_seconds,
                                  std::string *output) {
  GroupCmdResult result;
  fflush(nullptr);  // the caller's lines come before the command's
  int wake[2] = {-1, -1}, out[2] = {-1, -1};
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (pipe(wake) != 0 || !set_fd_flags(wake[0]) || !set_fd_flags(wake[1]) ||
      (output && (pipe(out) != 0 || !set_fd_flags(out[0]) || fcntl(out[1], F_SETFD, 1) != 0))) {
    result.error = errno;
    for (int *fd : {&wake[0], &wake[1], &out[0], &out[1], &devnull}) close_fd(fd);
    return result;
  }
  // SIGINT and SIGTERM wait until the group is known, so that a handler that
  // ends the running group finds it; SIGCHLD until the child is counted.
  sigset_t block, old;
  sigemptyset(&block);
  for (int signo : {SIGINT, SIGTERM, SIGCHLD}) sigaddset(&block, signo);
  sigprocmask(SIG_BLOCK, &block, &old);
  struct sigaction on_end = {}, previous_chld;
  on_end.sa_handler = on_child_end;
  sigemptyset(&on_end.sa_mask);
  on_end.sa_flags = SA_NOCLDSTOP;
  wake_fd = wake[1];
  sigaction(SIGCHLD, &on_end, &previous_chld);
  pid_t pid = -1;
  int spawn_errno = spawn_shell(cmd.c_str(), devnull, out[1], &old, &pid);
  if (spawn_errno) pid = -1;
  if (pid > 0) {
    note_command(cmd);
    running_pid = pid;
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
  close_fd(&out[1]);
  close_fd(&devnull);

  if (pid < 0) {
    result.error = spawn_errno;
  } else {
    int64_t deadline = limit_seconds > 0 ? now_ms() + limit_seconds * 1000 : INT64_MAX;
    Waited w{pid};
    sigset_t waiting = old;
    sigdelset(&waiting, SIGCHLD);
    bool out_open = output != nullptr;
    for (;;) {
      reap(&w);
      if (w.reaped && !out_open) break;
      int64_t left = deadline - now_ms();
      if (left <= 0) {
        int status = vtlb_end_group(pid);
        if (!w.reaped) w.status = status;
        result.timed_out = true;
        break;
      }
      struct pollfd fds[2] = {{wake[0], POLLIN, 0}, {out_open ? out[0] : -1, POLLIN, 0}};
      struct timespec step = {static_cast<time_t>(left / 1000), (left % 1000) * 1000000};
      // SIGCHLD is let through while waiting even when the caller holds it back.
      if (ppoll(fds, 2, limit_seconds > 0 ? &step : nullptr, &waiting) < 0) continue;
      char buf[4096];
      if (fds[0].revents)
        while (read(wake[0], buf, sizeof buf) > 0) {
        }
      if (out_open && fds[1].revents) {
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n > 0)
          output->append(buf, static_cast<size_t>(n));
        else if (n == 0 || (errno != EINTR && errno != EAGAIN))
          out_open = false;
      }
    }
    result.status = w.status;
    if (w.status == -1) result.error = ECHILD;  // reaped by someone else
  }
  sigprocmask(SIG_BLOCK, &block, nullptr);
  running_pid = 0;
  wake_fd = -1;
  sigaction(SIGCHLD, &previous_chld, nullptr);
  sigprocmask(SIG_SETMASK, &old, nullptr);
  for (int *fd : {&wake[0], &wake[1], &out[0]}) close_fd(fd);
  return result;
}

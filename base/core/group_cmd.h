// Shell commands run in a process group of their own, with a time limit:
// when the limit passes, or the caller is stopped by a signal, the whole
// group (the shell and everything it started) is ended and waited for, so
// that nothing of the command goes on after the caller said it stopped.
#ifndef VT_BASE_CORE_GROUP_CMD_H_
#define VT_BASE_CORE_GROUP_CMD_H_

#include <stdint.h>
#include <sys/types.h>

#include <string>

struct GroupCmdResult {
  // The wait status of the shell (as system() gives it), or -1 when it could
  // not be started (error then holds errno).
  int status = -1;
  int error = 0;
  // The limit passed and the group was ended; status is then the shell's
  // end by the signal that ended it.
  bool timed_out = false;
};

// Runs cmd with "/bin/sh -c" in a new process group whose id is the shell's,
// standard input from /dev/null (a command outside the terminal's foreground
// group must not read it). With output, the command's standard output is
// read into *output; otherwise it shares the caller's. Waits at most
// limit_seconds (0: no limit) for the shell to end and its output to close;
// at the limit the group is ended with vtlb_end_group. Standard I/O buffers
// are flushed first. While the command runs, vtlb_running_group names it.
GroupCmdResult vtlb_run_group_cmd(const std::string &cmd, int64_t limit_seconds,
                                  std::string *output = nullptr);

// The process group of the command running now, 0 when none, and its command
// line (cut to a few hundred characters), for a signal handler to end it and
// name it. Both are set before the command can do anything.
pid_t vtlb_running_group();
const char *vtlb_running_group_cmd();

// Ends the group whose leader is the shell pid (a child of the caller):
// SIGTERM to the group, up to two seconds for it to go, then SIGKILL to what
// is left, and waits (at most five seconds more) until no process of the
// group remains, reaping the shell. Uses only calls that are safe in a
// signal handler. Returns the shell's wait status, or -1 when it was reaped
// elsewhere.
int vtlb_end_group(pid_t pid);

#endif  // VT_BASE_CORE_GROUP_CMD_H_

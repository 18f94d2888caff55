#include "base/core/shell_cmd.h"

#include <errno.h>
#include <sys/wait.h>

#include "base/core/group_cmd.h"

int vtlb_run_shell_cmd(const std::string &cmd) {
  // In a group of its own, as the suite commands: a run stopped by a signal
  // ends it rather than leave it working on. The runner flushes stdio first.
  GroupCmdResult r = vtlb_run_group_cmd(cmd, 0);
  if (r.status == -1) errno = r.error;
  return r.status;
}

bool vtlb_shell_cmd_failed(int result) {
  return !WIFEXITED(result) || WEXITSTATUS(result) != 0;
}

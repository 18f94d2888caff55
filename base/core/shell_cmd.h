// Shell commands without a time limit: the removals of an old replay
// directory, scenario, script and generator input file.
#ifndef VT_BASE_CORE_SHELL_CMD_H_
#define VT_BASE_CORE_SHELL_CMD_H_

#include <string>

// Runs cmd through the shell, after flushing every stdio stream so that the
// command's output follows what the tool printed before, in a process group
// of its own without a time limit (vtlb_run_group_cmd). Returns the wait
// status as system() does: -1, with errno set, when the shell could not be
// run.
int vtlb_run_shell_cmd(const std::string &cmd);

// True when a system() result other than -1 reports a failed command: a
// non-zero exit status, or an end by a signal.
bool vtlb_shell_cmd_failed(int result);

#endif  // VT_BASE_CORE_SHELL_CMD_H_

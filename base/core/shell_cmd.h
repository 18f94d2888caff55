// Shell commands run with system(): directory removals and creation, the
// suite's script tools.
#ifndef VT_BASE_CORE_SHELL_CMD_H_
#define VT_BASE_CORE_SHELL_CMD_H_

#include <string>

// Runs cmd through the shell with system(), after flushing every stdio
// stream so that the command's output follows what the tool printed before.
// Returns the result of system(): -1 when the shell could not be run.
int vtlb_run_shell_cmd(const std::string &cmd);

// True when a system() result other than -1 reports a failed command: a
// non-zero exit status, or an end by a signal.
bool vtlb_shell_cmd_failed(int result);

#endif  // VT_BASE_CORE_SHELL_CMD_H_

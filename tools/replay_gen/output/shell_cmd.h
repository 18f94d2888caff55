// Shell commands of the output stages (removals, the suite's script tools).
#ifndef VT_REPLAY_GEN_OUTPUT_SHELL_CMD_H_
#define VT_REPLAY_GEN_OUTPUT_SHELL_CMD_H_

#include <string>

// Runs cmd through the shell with system(), after flushing every stdio
// stream so that the command's output follows what the tool printed before.
// Returns the result of system(): -1 when the shell could not be run.
int run_shell_cmd(const std::string &cmd);

// True when a system() result other than -1 reports a failed command: a
// non-zero exit status, or an end by a signal.
bool shell_cmd_failed(int result);

#endif  // VT_REPLAY_GEN_OUTPUT_SHELL_CMD_H_

#include "base/core/shell_cmd.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

int vtlb_run_shell_cmd(const std::string &cmd) {
  fflush(nullptr);
  return system(cmd.c_str());
}

bool vtlb_shell_cmd_failed(int result) {
  return !WIFEXITED(result) || WEXITSTATUS(result) != 0;
}

#include "base/core/cpu_count.h"

#include <stdio.h>
#include <stdlib.h>

#include "base/core/run_cmd.h"

int vtlb_get_num_cpu() {
  const char *cmd = "cat /proc/cpuinfo | grep '^processor[\t]*' | wc -l";
  char out[256] = "";
  // The whole output line fits one piece, so counts of any width read whole.
  if (vtlb_run_cmd_and_get_last_line(cmd, sizeof(out), out) == -1) {
    fprintf(stderr, "Error: Error in getting number of CPUs for the system.\n");
    return -1;
  }
  if (out[0] == '\0') return -1;
  return atoi(out);
}

#include "base/core/run_cmd.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

extern "C" void vtlb_ignore_sigchild(int) {}

int vtlb_run_cmd_and_get_last_line(const char *cmd, int length, char *out) {
  if (length <= 1) return -1;
  // Keep SIGCHLD caught (not ignored) so that the child stays waitable.
  struct sigaction ours = {}, previous = {};
  ours.sa_handler = vtlb_ignore_sigchild;
  sigemptyset(&ours.sa_mask);
  sigaction(SIGCHLD, &ours, &previous);

  FILE *pipe = popen(cmd, "r");
  if (!pipe) {
    fprintf(stderr, "Error: Error in executing command = %s. Error = %s\n", cmd, strerror(errno));
    sigaction(SIGCHLD, &previous, nullptr);
    return -1;
  }
  std::vector<char> piece(length);
  while (fgets(piece.data(), length, pipe)) memcpy(out, piece.data(), strlen(piece.data()) + 1);
  if (char *end = strchr(out, '\n')) *end = '\0';
  pclose(pipe);
  sigaction(SIGCHLD, &previous, nullptr);
  return 0;
}

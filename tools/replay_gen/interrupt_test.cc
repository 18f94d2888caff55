#include "tools/replay_gen/interrupt.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// The handler in a child process: it removes the generator input file, names
// the replay directory, and ends with 128 + the signal number.
TEST(Interrupt, RemovesInputNamesDirectoryAndEndsWithSignalStatus) {
  char input[] = "/tmp/vt_interrupt_test.XXXXXX";
  int fd = mkstemp(input);
  ASSERT_GE(fd, 0);
  close(fd);
  for (int signo : {SIGINT, SIGTERM}) {
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    pid_t child = fork();
    if (child == 0) {
      dup2(err[1], STDERR_FILENO);
      install_interrupt_handlers();
      set_interrupt_gen_input(input);
      set_interrupt_replay_dir("first/dir");
      set_interrupt_replay_dir("/the/replay dir");
      raise(signo);
      _exit(0);
    }
    close(err[1]);
    char buf[512];
    ssize_t n = read(err[0], buf, sizeof buf - 1);
    close(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signo);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0),
              "on_interrupt:Run stopped by signal " + std::to_string(signo) +
                  "; replay directory /the/replay dir is incomplete.\n");
    EXPECT_NE(access(input, F_OK), 0);
    fd = open(input, O_WRONLY | O_CREAT, 0600);  // for the next signal
    close(fd);
  }
  unlink(input);
}

TEST(Interrupt, LineBeforeAnyReplayDirectoryAndCutToRoom) {
  char line[128];
  EXPECT_EQ(format_interrupt_line(15, line, sizeof line),
            strlen("on_interrupt:Run stopped by signal 15; no replay directory was made.\n"));
  EXPECT_STREQ(line, "on_interrupt:Run stopped by signal 15; no replay directory was made.\n");
  char small[10];
  EXPECT_EQ(format_interrupt_line(2, small, sizeof small), 9u);
  EXPECT_STREQ(small, "on_interr");
}

}  // namespace

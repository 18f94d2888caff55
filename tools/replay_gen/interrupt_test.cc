#include "tools/replay_gen/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tools/replay_gen/records.h"

namespace {

TEST(Interrupt, LineBeforeAnyReplayDirectoryAndCutToRoom) {
  char line[256];
  EXPECT_EQ(format_interrupt_line(15, nullptr, line, sizeof line),
            strlen("on_interrupt:Run stopped by signal 15; no replay directory was made.\n"));
  EXPECT_STREQ(line, "on_interrupt:Run stopped by signal 15; no replay directory was made.\n");
  char small[10] = "untouched";
  EXPECT_EQ(format_interrupt_line(2, nullptr, small, 0), 0u);
  EXPECT_STREQ(small, "untouched");
  EXPECT_EQ(format_interrupt_line(2, nullptr, small, sizeof small), 9u);
  EXPECT_STREQ(small, "on_interr");
  format_interrupt_line(2147483647, nullptr, line, sizeof line);
  EXPECT_STREQ(line,
               "on_interrupt:Run stopped by signal 2147483647; no replay directory was made.\n");
  format_interrupt_line(-3, nullptr, line, sizeof line);
  EXPECT_STREQ(line, "on_interrupt:Run stopped by signal 0; no replay directory was made.\n");
  // The directory named last is the one the line names.
  for (const char *dir : {"/r/one", "/r/two", "/r/three"}) {
    set_interrupt_replay_dir(dir);
    format_interrupt_line(9, nullptr, line, sizeof line);
    EXPECT_EQ(std::string(line), "on_interrupt:Run stopped by signal 9; replay directory " +
                                     std::string(dir) + " is incomplete.\n");
  }
  // The longest replay directory a configuration can name is named whole.
  std::string longest = "/" + std::string(kTextBufSize - 2, 'd');
  set_interrupt_replay_dir(longest.c_str());
  std::string room(2 * kTextBufSize, '\0');
  format_interrupt_line(15, nullptr, room.data(), room.size());
  EXPECT_EQ(std::string(room.c_str()), "on_interrupt:Run stopped by signal 15; replay directory " +
                                           longest + " is incomplete.\n");
}

// What an interrupt or a failed run leaves of a spill: the file and the
// directory named last are removed, in either of the slots they take in
// turn; with none named, nothing is.
TEST(Interrupt, RemovesTheSpillFileAndDirectoryNamedLast) {
  for (int round = 0; round < 3; round++) {
    char dir[] = "/tmp/vt_interrupt_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/run.0", other = std::string(dir) + "/run.1";
    for (const std::string &f : {file, other}) fclose(fopen(f.c_str(), "w"));
    // Round 0 names the file in the first slot, round 1 in the second (after
    // another file, since removed); round 2 names it, then no file at all.
    set_interrupt_spill_file(nullptr);
    set_interrupt_spill_dir(dir);
    if (round == 1) set_interrupt_spill_file(other.c_str());
    unlink(other.c_str());
    set_interrupt_spill_file(file.c_str());
    if (round == 2) {
      set_interrupt_spill_file(nullptr);
      set_interrupt_spill_dir(nullptr);
    }
    remove_spill_leftovers();
    struct stat st;
    EXPECT_EQ(stat(file.c_str(), &st) == 0, round == 2) << round;
    EXPECT_EQ(stat(dir, &st) == 0, round == 2) << round;
    unlink(file.c_str());
    rmdir(dir);
  }
  set_interrupt_spill_file(nullptr);
  set_interrupt_spill_dir(nullptr);
}

// An interrupt removes the script's input file while it is being made, and
// leaves a file at that path once the run has let it go (cleared, or
// removed at the run's end and made anew by someone else). A run started
// with SIGINT ignored (a background job of a script) keeps it ignored, and
// still stops on SIGTERM.
TEST(Interrupt, RemovesTheScriptInputOnlyWhileItIsNamed) {
  enum Then { kKept, kCleared, kRemoved, kIgnoredAtStart };
  for (Then then : {kKept, kCleared, kRemoved, kIgnoredAtStart}) {
    char dir[] = "/tmp/vt_interrupt_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/gen_input";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(STDERR_FILENO);  // the interrupt's line
      if (then == kIgnoredAtStart) signal(SIGINT, SIG_IGN);
      install_interrupt_handlers();
      fclose(fopen(path.c_str(), "w"));
      set_interrupt_gen_input(path.c_str());
      if (then == kCleared) set_interrupt_gen_input(nullptr);
      if (then == kRemoved) {
        remove_interrupt_gen_input();
        fclose(fopen(path.c_str(), "w"));
      }
      raise(SIGINT);
      raise(SIGTERM);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    int signo = then == kIgnoredAtStart ? SIGTERM : SIGINT;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signo) << then;
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st) == 0, then == kCleared || then == kRemoved) << then;
    unlink(path.c_str());
    rmdir(dir);
  }
}

}  // namespace

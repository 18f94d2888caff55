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
#include "tools/replay_gen/test_files.h"

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
// directory named last are removed; once they are cleared, nothing is.
TEST(Interrupt, RemovesTheSpillFileAndDirectoryNamedLast) {
  for (int round = 0; round < 3; round++) {  // in the first slot, the second, cleared
    std::string dir = make_temp_dir(), file = write_text(dir + "/run.0", "");
    set_interrupt_spill_file(nullptr), set_interrupt_spill_dir(nullptr);
    if (round == 1) set_interrupt_spill_dir("/vt_no_such_dir");
    if (round == 1) set_interrupt_spill_file("/vt_no_such_dir/run.9");
    set_interrupt_spill_dir(dir.c_str());
    set_interrupt_spill_file(file.c_str());
    if (round == 2) set_interrupt_spill_file(nullptr), set_interrupt_spill_dir(nullptr);
    remove_spill_leftovers();
    EXPECT_EQ(std::filesystem::exists(file), round == 2) << round;
    EXPECT_EQ(std::filesystem::exists(dir), round == 2) << round;
    remove_dir(dir);
  }
}

// An interrupt removes the script's input file while it is being made, and
// leaves a file at that path once the run has let it go (cleared, or
// removed at the run's end and made anew by someone else). A run started
// with SIGINT ignored (a background job of a script) keeps it ignored, and
// still stops on SIGTERM.
TEST(Interrupt, RemovesTheScriptInputOnlyWhileItIsNamed) {
  enum Then { kKept, kCleared, kRemoved, kIgnoredAtStart };
  for (Then then : {kKept, kCleared, kRemoved, kIgnoredAtStart}) {
    std::string dir = make_temp_dir(), path = dir + "/gen_input";
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
    remove_dir(dir);
  }
}

}  // namespace

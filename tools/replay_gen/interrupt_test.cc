#include "tools/replay_gen/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/replay_gen/records.h"
#include "tools/replay_gen/test_files.h"

namespace {

// The line for any signal, cut to its room, names the replay directory named last, whole.
TEST(Interrupt, LineNamesTheLastReplayDirectoryCutToRoom) {
  const std::string lead = "on_interrupt:Run stopped by signal ", in = " is incomplete.\n",
                    none = "; no replay directory was made.\n";
  const std::string longest = "/" + std::string(kTextBufSize - 2, 'd');
  const struct {
    int signo;
    const char *dir;
    size_t room;
    std::string line;
  } cases[] = {
      {15, nullptr, 256, lead + "15" + none},
      {2, nullptr, 10, "on_interr"},
      {2147483647, nullptr, 256, lead + "2147483647" + none},
      {-3, nullptr, 256, lead + "0" + none},
      {9, "/r/one", 256, lead + "9; replay directory /r/one" + in},
      {9, "/r/two", 256, lead + "9; replay directory /r/two" + in},
      {15, longest.c_str(), 2 * kTextBufSize, lead + "15; replay directory " + longest + in},
  };
  for (const auto &c : cases) {
    if (c.dir) set_interrupt_replay_dir(c.dir);
    std::string line(c.room, 'x');
    EXPECT_EQ(format_interrupt_line(c.signo, nullptr, line.data(), c.room), c.line.size());
    EXPECT_EQ(line.c_str(), c.line) << c.signo;
  }
  char untouched[] = "untouched";
  EXPECT_EQ(format_interrupt_line(2, nullptr, untouched, 0), 0u);
  EXPECT_STREQ(untouched, "untouched");
}

// An interrupt removes the spill file and directory named last; once cleared, nothing.
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

// The script's input goes only while named; SIGINT ignored at the start stays so, SIGTERM stops.
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
      if (then == kRemoved) remove_interrupt_gen_input(), fclose(fopen(path.c_str(), "w"));
      raise(SIGINT);
      raise(SIGTERM);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    int signo = then == kIgnoredAtStart ? SIGTERM : SIGINT;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signo) << then;
    EXPECT_EQ(std::filesystem::exists(path), then == kCleared || then == kRemoved) << then;
    remove_dir(dir);
  }
}

}  // namespace

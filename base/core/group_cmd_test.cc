#include "base/core/group_cmd.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "base/core/failing_spawn_test_support.h"
#include "base/core/open_descriptors_test_support.h"
#include "base/core/shell_cmd.h"
#include "base/core/temp_dir_test_support.h"

namespace {

// Output, exit status, input from /dev/null, a group of its own and the caller's signal mask.
TEST(GroupCmd, RunsInItsOwnGroup) {
  struct Case {
    std::string cmd, out;
    int exit_status;
  } cases[] = {
      {"echo hi; exit 3", "hi\n", 3},
      {"read x && echo got $x; echo end", "end\n", 0},
      {"printf a; sleep 0.05; printf b; sleep 0.05; echo c", "abc\n", 0},
      // The shell leads a group of its own (so not the caller's).
      {"[ \"$(cut -d' ' -f5 /proc/$$/stat)\" = $$ ] && echo leader", "leader\n", 0},
  };
  for (const Case &c : cases) {
    std::string out;
    GroupCmdResult r = vtlb_run_group_cmd(c.cmd, 10, &out);
    EXPECT_FALSE(r.timed_out) << c.cmd;
    ASSERT_TRUE(WIFEXITED(r.status)) << c.cmd;
    EXPECT_EQ(WEXITSTATUS(r.status), c.exit_status) << c.cmd;
    EXPECT_EQ(out, c.out) << c.cmd;
  }
  // A caller holding back SIGUSR1 and SIGCHLD: the commands see at most those blocked
  // (shells clear some or all at start), never the signals held back while the shell
  // starts; and the end of a shell that closed its output early is still seen.
  sigset_t held, caller;
  sigemptyset(&held);
  for (int signo : {SIGUSR1, SIGCHLD}) sigaddset(&held, signo);
  pthread_sigmask(SIG_SETMASK, &held, &caller);
  std::string mask, none;
  auto start = std::chrono::steady_clock::now();
  vtlb_run_group_cmd("grep SigBlk /proc/self/status", 10, &mask);
  vtlb_run_group_cmd("exec >&-; sleep 0.2", 10, &none);
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  pthread_sigmask(SIG_SETMASK, &caller, nullptr);
  EXPECT_LT(took.count(), 5);  // not left waiting until the limit
  ASSERT_EQ(mask.rfind("SigBlk:\t", 0), 0u) << mask;
  unsigned long long blocked = strtoull(mask.c_str() + 8, nullptr, 16);
  EXPECT_EQ(blocked & ~((1ull << (SIGUSR1 - 1)) | (1ull << (SIGCHLD - 1))), 0u) << mask;
  EXPECT_EQ(vtlb_running_group(), 0);
  // No limit, and the caller's own output.
  std::string out;
  GroupCmdResult r = vtlb_run_group_cmd("exit 0", 0);
  EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
  // Waiting for output a child holds open after the shell ended takes no processor time.
  clock_t cpu_before = clock();
  out.clear();
  vtlb_run_group_cmd("(sleep 0.5; echo late) & echo now", 10, &out);
  EXPECT_LT(static_cast<double>(clock() - cpu_before) / CLOCKS_PER_SEC, 0.3);
  EXPECT_EQ(out, "now\nlate\n");
}

// While a command runs it is named, cut with "..." to 399 characters.
TEST(GroupCmd, NamesTheRunningCommandCutToItsRoom) {
  const std::string head = "sleep 0.3 #";
  struct Case {
    size_t size;
    std::string note;
  } cases[] = {
      {head.size(), head},
      {399, head + std::string(388, 'x')},
      {400, head + std::string(385, 'x') + "..."},
  };
  for (const Case &c : cases) {
    std::string cmd = head + std::string(c.size - head.size(), 'x');
    std::thread runner([&] { vtlb_run_group_cmd(cmd, 10); });
    for (int i = 0; i < 2000 && vtlb_running_group() == 0; i++) usleep(1000);
    EXPECT_NE(vtlb_running_group(), 0) << c.size;
    EXPECT_EQ(vtlb_running_group_cmd(), c.note) << c.size;
    runner.join();
  }
  EXPECT_EQ(vtlb_running_group(), 0);
}

// A command that cannot start says why, leaving no descriptor, blocked signal or handler behind.
TEST(GroupCmd, NoDescriptorOrProcessNoCommand) {
  sigset_t none_held, caller;
  sigemptyset(&none_held);
  pthread_sigmask(SIG_SETMASK, &none_held, &caller);
  struct sigaction before;
  sigaction(SIGCHLD, nullptr, &before);
  long descriptors = vt_open_descriptors();
  struct rlimit old_limit, none;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
  none = {3, old_limit.rlim_max};
  std::string out = "kept";
  for (int error : {EMFILE, EAGAIN}) {
    for (std::string *output : std::initializer_list<std::string *>{nullptr, &out}) {
      if (error == EMFILE) {
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
      } else {
        vt_fail_spawn_after(0);
      }
      GroupCmdResult r = vtlb_run_group_cmd("echo started", 10, output);
      setrlimit(RLIMIT_NOFILE, &old_limit);
      EXPECT_EQ(r.status, -1) << error;
      EXPECT_EQ(r.error, error);
      EXPECT_FALSE(r.timed_out) << error;
    }
  }
  EXPECT_EQ(out, "kept");
  errno = 0;
  vt_fail_spawn_after(0);
  EXPECT_EQ(vtlb_run_shell_cmd("exit 0"), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(vt_open_descriptors(), descriptors);
  EXPECT_EQ(vtlb_running_group(), 0);
  sigset_t now;
  sigprocmask(SIG_BLOCK, nullptr, &now);
  for (int signo : {SIGINT, SIGTERM, SIGCHLD}) EXPECT_FALSE(sigismember(&now, signo)) << signo;
  struct sigaction after;
  sigaction(SIGCHLD, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
  GroupCmdResult r = vtlb_run_group_cmd("echo again", 10, &out);
  EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0);
  EXPECT_EQ(out, "keptagain\n");
  pthread_sigmask(SIG_SETMASK, &caller, nullptr);
}

// A reaper thread of the caller's taking the shell's status first: ECHILD at once, no hang.
TEST(GroupCmd, AShellReapedBySomeoneElseEndsTheWait) {
  std::atomic<bool> stop{false};
  std::atomic<int> stolen{0};
  std::thread reaper([&] {
    for (int status; !stop;)
      if (waitpid(-1, &status, 0) > 0)
        stolen++;
      else
        usleep(200);
  });
  for (int i = 0; i < 5 || (stolen == 0 && i < 200); i++) {  // until the reaper wins once
    GroupCmdResult r = vtlb_run_group_cmd("sleep 0.05; exit 3", 3);
    EXPECT_FALSE(r.timed_out) << i;
    if (r.status == -1)
      EXPECT_EQ(r.error, ECHILD) << i;
    else
      EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 3) << i;
  }
  stop = true;
  reaper.join();
  EXPECT_GT(stolen, 0);  // else the case above was not met
  // An ECHILD left over from before is no reap: the shell's own status comes back.
  errno = ECHILD;
  GroupCmdResult r = vtlb_run_group_cmd("sleep 0.05; exit 3", 3);
  EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 3) << r.status;
}

// At the limit the whole group goes; a process that left it is neither ended nor waited for.
TEST(GroupCmd, LimitEndsTheWholeGroup) {
  VtTempDir dir;
  const std::string pids = dir.path + "/pids";
  struct Case {
    std::string cmd;
    bool with_output, left_group;
  } cases[] = {
      {"trap '' TERM; sleep 30 & echo $! >" + pids + "; wait", false, false},
      {"(sleep 30 & echo $! >" + pids + "); echo done", true, false},
      {"setsid sleep 30 & echo $! >" + pids + "; sleep 30", true, true},
  };
  for (const Case &c : cases) {
    auto start = std::chrono::steady_clock::now();
    std::string out;
    GroupCmdResult r = vtlb_run_group_cmd(c.cmd, 1, c.with_output ? &out : nullptr);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(r.timed_out) << c.cmd;
    EXPECT_TRUE(took >= 0.9 && took < 9.0) << c.cmd << ": " << took << " s";
    pid_t child = 0;
    std::ifstream(pids) >> child;
    ASSERT_GT(child, 0) << c.cmd;
    // One that left the group is still there (and ended now); the others are gone.
    EXPECT_EQ(kill(child, c.left_group ? SIGKILL : 0) == 0, c.left_group) << c.cmd;
    EXPECT_EQ(vtlb_running_group(), 0);
  }
  std::string out;
  EXPECT_EQ(vtlb_run_group_cmd("echo fast", 1, &out).timed_out, false);
  EXPECT_EQ(out, "fast\n");
}

}  // namespace

#include "base/core/run_cmd.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/core/cpu_count.h"
#include "base/core/shell_cmd.h"
#include "base/core/shell_quote.h"
#include "base/core/temp_dir_test_support.h"

// The caller's handling of SIGCHLD, which a run sets aside while it waits.
void (*sigchld_handler())(int) {
  struct sigaction now = {};
  sigaction(SIGCHLD, nullptr, &now);
  return now.sa_handler;
}

// With SIGCHLD ignored by the caller the run still gets its line; the handling is back after.
TEST(RunCmd, KeepsLastLineCutAtLineEnd) {
  struct Case {
    const char *cmd;
    int length;
    const char *want;
  } cases[] = {
      {"printf 'a\\nb\\nlast\\n'", 256, "last"},
      {"printf 'no line end'", 256, "no line end"},
      {"printf '123\\n'", 4, ""},  // pieces shorter than the line: the last is the line end
      {"true", 256, "untouched"},
  };
  signal(SIGCHLD, SIG_IGN);
  for (const Case &c : cases) {
    char out[256] = "untouched";
    ASSERT_EQ(vtlb_run_cmd_and_get_last_line(c.cmd, c.length, out), 0) << c.cmd;
    EXPECT_STREQ(out, c.want) << c.cmd << " length " << c.length;
    EXPECT_EQ(sigchld_handler(), SIG_IGN) << c.cmd;
  }
  signal(SIGCHLD, SIG_DFL);
}

// No descriptor for the pipe, or no room for an empty line: a failure, the output left alone.
TEST(RunCmd, FailsWhenTheCommandCannotRun) {
  char out[16] = "untouched";
  for (int length : {0, 1}) EXPECT_EQ(vtlb_run_cmd_and_get_last_line("echo x", length, out), -1);
  struct rlimit old_limit, none;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
  none = {3, old_limit.rlim_max};
  testing::internal::CaptureStderr();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  signal(SIGCHLD, SIG_IGN);
  int rc = vtlb_run_cmd_and_get_last_line("echo x", sizeof(out), out);
  EXPECT_EQ(sigchld_handler(), SIG_IGN);
  signal(SIGCHLD, SIG_DFL);
  int cpus = vtlb_get_num_cpu();
  setrlimit(RLIMIT_NOFILE, &old_limit);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(cpus, -1);
  EXPECT_STREQ(out, "untouched");
  EXPECT_NE(err.find("Error: Error in executing command = echo x. Error = Too many open files\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("Error: Error in getting number of CPUs for the system.\n"),
            std::string::npos);
}

TEST(ShellQuote, PassesEveryCharacterLiterally) {
  const char *texts[] = {"plain",           "with blank", "it's", "a;b",
                         "$(touch /tmp/x)", "`id`",       "",     "\"q\""};
  for (const char *text : texts) {
    std::string cmd = "printf %s " + vtlb_shell_quote(text);
    char out[256] = "";
    ASSERT_EQ(vtlb_run_cmd_and_get_last_line(cmd.c_str(), sizeof(out), out), 0);
    EXPECT_STREQ(out, text);
  }
}

// The caller's buffered lines come before the command's in a shared output file.
TEST(ShellCmd, CallersLinesComeFirst) {
  VtTempDir dir;
  const std::string path = dir.path + "/out";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!freopen(path.c_str(), "w", stdout)) _exit(2);
    printf("caller\n");
    int rc = vtlb_run_shell_cmd("echo command");
    fflush(stdout);
    _exit(vtlb_shell_cmd_failed(rc) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "caller\ncommand\n");
}

// The processors of /proc/cpuinfo, counted by wc: what it prints is the count, nothing a failure.
TEST(CpuCount, CountsProcessorLines) {
  std::ifstream info("/proc/cpuinfo");
  int processors = 0;
  for (std::string line; std::getline(info, line);) processors += line.rfind("processor", 0) == 0;
  EXPECT_EQ(vtlb_get_num_cpu(), processors);
  VtTempDir dir;
  std::string wc = dir.path + "/wc", old_path = getenv("PATH");
  setenv("PATH", (dir.path + ":" + old_path).c_str(), 1);
  for (auto [script, count] : {std::pair{"echo 1234", 1234}, {"true", -1}}) {
    std::ofstream(wc) << "#!/bin/sh\ncat >/dev/null\n" << script << "\n";
    chmod(wc.c_str(), 0755);
    EXPECT_EQ(vtlb_get_num_cpu(), count) << script;
  }
  setenv("PATH", old_path.c_str(), 1);
}

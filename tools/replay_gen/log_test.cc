#include "tools/replay_gen/log.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "tools/replay_gen/run_state.h"

namespace {

// Runs fn with the debug, info and error gates and returns its stdout and stderr.
template <typename Fn>
std::pair<std::string, std::string> capture(int debug, int info, int error, Fn fn) {
  run.log.debug_level = debug, run.log.info_level = info, run.log.error_level = error;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  fn();
  fflush(stdout), fflush(stderr);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  run.log.debug_level = 0, run.log.info_level = 1, run.log.error_level = 1;
  return {out, err};
}

TEST(Log, GatesStreamsAndFormats) {
  struct Case {
    int gate;  // every gate at this level
    void (*call)();
    const char *out, *err;
  } cases[] = {
      {1, [] { info_log(run.log, 1, "  ", "hello %d", 7); }, "  hello 7\n", ""},
      {1, [] { info_log(run.log, 2, "", "x"); }, "", ""},
      {1, [] { info_log(run.log, 1, "", "x\n"); }, "x\n\n", ""},
      {1, [] { error_log(run.log, 1, "main", "bad"); }, "", "main:bad\n"},
      {1, [] { error_log(run.log, 2, "main", "bad"); }, "", ""},
      {4, [] { debug_log(run.log, 4, "f", "Method Called"); }, "f:Method Called\n", ""},
      {2, [] { debug_log(run.log, 3, "f", "x"); }, "", ""},
      {0, [] { error_log(run.log, 1, "main", "bad"); }, "", ""},
      {0, [] { info_log(run.log, 0, "", "x"); }, "", ""},
      // Error lines show their control characters; the line ends that
      // finish the message stay, those inside it do not.
      {1, [] { error_log(run.log, 1, "f", "a\nb\r\t\x01\x1f\x7f\x80\xe9 ~\n\n"); }, "",
       "f:a\\nb\\r\\t\\x01\\x1f\\x7f\x80\xe9 ~\n\n\n"},
      {1, [] { error_log(run.log, 1, "f", "\n"); }, "", "f:\n\n"},
  };
  for (const Case &c : cases) {
    auto [out, err] = capture(c.gate, c.gate, c.gate, c.call);
    EXPECT_EQ(out, c.out) << c.gate << c.out << c.err;
    EXPECT_EQ(err, c.err) << c.gate << c.out << c.err;
  }
  EXPECT_EQ(capture(0, 1, 1, [] { debug_log(run.log, 1, "f", "x"); }).first, "");  // debug off
}

TEST(Log, LongLinesAreCutAt102399Characters) {
  static std::string long_text(200000, 'a');
  auto [out, err] = capture(1, 1, 1, [] {
    info_log(run.log, 1, "  ", "%s", long_text.c_str());
    debug_log(run.log, 1, "fn", "%s", long_text.c_str());
    error_log(run.log, 1, "fn", "%s", long_text.c_str());
  });
  std::string cut = std::string(kLogLineMax, 'a') + "\n";
  EXPECT_EQ(out, "  " + cut.substr(2) + "fn:" + cut);
  EXPECT_EQ(err, "fn:" + cut);
  // Escaped, an error line is cut to the same length.
  static std::string controls(200000, '\x01');
  err = capture(1, 1, 1, [] { error_log(run.log, 1, "fn", "%s", controls.c_str()); }).second;
  std::string escaped;
  while (escaped.size() < static_cast<size_t>(kLogLineMax)) escaped += "\\x01";
  EXPECT_EQ(err, "fn:" + escaped.substr(0, kLogLineMax) + "\n");
}

// A file to read is opened only when it is a regular file, on whatever
// descriptor is free, descriptor 0 as well.
TEST(Log, OpenFileReadsRegularFilesOnly) {
  char tmpl[] = "/tmp/log_test.XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  std::filesystem::create_directories(dir + "/sub");
  std::ofstream(dir + "/f") << "line\n";
  int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  FILE *fp = open_file(run.log, (dir + "/f").c_str(), "r");
  char line[16] = {};
  if (fp) {
    EXPECT_NE(fgets(line, sizeof line, fp), nullptr);
    fclose(fp);
  }
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_NE(fp, nullptr);
  EXPECT_STREQ(line, "line\n");
  const struct {
    std::string name, err;
  } refused[] = {
      {"/sub", "open_file:Unable to open file " + dir + "/sub: a directory, not a regular file\n"},
      {"/none", "open_file:Unable to open file " + dir + "/none\n"},
  };
  for (const auto &c : refused) {
    FILE *got = nullptr;
    auto [out, err] =
        capture(1, 1, 1, [&] { got = open_file(run.log, (dir + c.name).c_str(), "r"); });
    EXPECT_EQ(got, nullptr) << c.name;
    EXPECT_EQ(err, c.err) << c.name;
  }
  // Other modes open as the C library does, and say nothing unless it fails.
  for (const char *mode : {"w", "a+"}) {
    FILE *got = nullptr;
    auto [out, err] =
        capture(1, 1, 1, [&] { got = open_file(run.log, (dir + "/new").c_str(), mode); });
    EXPECT_NE(got, nullptr) << mode;
    if (got) fclose(got);
    EXPECT_EQ(err, "") << mode;
    std::tie(out, err) =
        capture(1, 1, 1, [&] { got = open_file(run.log, (dir + "/none/x").c_str(), mode); });
    EXPECT_EQ(got, nullptr) << mode;
    EXPECT_EQ(err, "open_file:Unable to open file " + dir + "/none/x\n") << mode;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace

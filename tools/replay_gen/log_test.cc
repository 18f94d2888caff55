#include "tools/replay_gen/log.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/replay_gen/records.h"

namespace {

struct Gates {
  int debug, info, error;
};

// Runs fn with the given gates and returns what it wrote to stdout and stderr.
template <typename Fn>
std::pair<std::string, std::string> capture(Gates g, Fn fn) {
  debug_level = g.debug;
  info_level = g.info;
  error_level = g.error;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  fn();
  fflush(stdout);
  fflush(stderr);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  debug_level = 0;
  info_level = 1;
  error_level = 1;
  return {out, err};
}

TEST(Log, GatesStreamsAndFormats) {
  struct Case {
    const char *name;
    Gates gates;
    void (*call)();
    const char *out;
    const char *err;
  } cases[] = {
      {"info level 1", {0, 1, 1}, [] { info_log(1, "", "hello %d", 7); }, "hello 7\n", ""},
      {"info indent", {0, 1, 1}, [] { info_log(1, "  ", "x"); }, "  x\n", ""},
      {"info level 2 hidden", {0, 1, 1}, [] { info_log(2, "", "x"); }, "", ""},
      {"info own line end", {0, 1, 1}, [] { info_log(1, "", "x\n"); }, "x\n\n", ""},
      {"error level 1", {0, 1, 1}, [] { error_log(1, "main", "bad"); }, "", "main:bad\n"},
      {"error level 2 hidden", {0, 1, 1}, [] { error_log(2, "main", "bad"); }, "", ""},
      {"debug off", {0, 1, 1}, [] { debug_log(1, "f", "x"); }, "", ""},
      {"debug on", {4, 4, 4}, [] { debug_log(4, "f", "Method Called"); }, "f:Method Called\n", ""},
      {"debug above gate", {2, 2, 2}, [] { debug_log(3, "f", "x"); }, "", ""},
      {"d 0 silences errors", {0, 0, 0}, [] { error_log(1, "main", "bad"); }, "", ""},
      {"d 0 silences info", {0, 0, 0}, [] { info_log(0, "", "x"); }, "", ""},
  };
  for (const Case &c : cases) {
    auto [out, err] = capture(c.gates, c.call);
    EXPECT_EQ(out, c.out) << c.name;
    EXPECT_EQ(err, c.err) << c.name;
  }
}

TEST(Log, LongLinesAreCutAt102399Characters) {
  static std::string long_text(200000, 'a');
  auto [out, err] = capture({1, 1, 1}, [] {
    info_log(1, "  ", "%s", long_text.c_str());
    debug_log(1, "fn", "%s", long_text.c_str());
    error_log(1, "fn", "%s", long_text.c_str());
  });
  std::string info_line = "  " + std::string(kLogLineMax - 2, 'a') + "\n";
  std::string debug_line = "fn:" + std::string(kLogLineMax, 'a') + "\n";
  EXPECT_EQ(out, info_line + debug_line);
  EXPECT_EQ(err, "fn:" + std::string(kLogLineMax, 'a') + "\n");
}

TEST(OpenFile, ReportsFailure) {
  auto [out, err] =
      capture({0, 1, 1}, [] { EXPECT_EQ(open_file("/nonexistent/dir/file", "r"), nullptr); });
  EXPECT_EQ(err, "open_file:Unable to open file /nonexistent/dir/file\n");
}

}  // namespace

#include "tools/replay_gen/log.h"

#include <unistd.h>

#include "tools/replay_gen/test_support.h"

namespace {

// Runs fn with the debug, info and error gates and returns its stdout and stderr.
template <typename Fn>
std::pair<std::string, std::string> capture(int debug, int info, int error, Fn fn,
                                            bool quiet = false) {
  LogGates gates{debug, info, error, quiet};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  fn(gates);
  fflush(stdout), fflush(stderr);
  std::string out = testing::internal::GetCapturedStdout();
  return {out, testing::internal::GetCapturedStderr()};
}

// Which stream each call writes, as formatted, long lines cut at kLogLineMax characters.
TEST(Log, GatesStreamsAndFormats) {
  using Gates = const LogGates &;
  static const std::string text(200000, 'a'), controls(200000, '\x01');
  const std::string cut = std::string(kLogLineMax, 'a') + "\n";
  std::string escaped;  // the controls escaped, cut to the same length
  while (escaped.size() < static_cast<size_t>(kLogLineMax)) escaped += "\\x01";
  escaped = "fn:" + escaped.substr(0, kLogLineMax) + "\n";
  struct Case {
    int gate;  // every gate at this level
    void (*call)(Gates);
    std::string out, err;
    bool quiet = false;
  } cases[] = {
      {1, [](Gates g) { info_log(g, 1, "  ", "hello %d", 7); }, "  hello 7\n", ""},
      {1, [](Gates g) { info_log(g, 1, "", "x\n"); }, "x\n\n", ""},
      {1, [](Gates g) { error_log(g, 1, "main", "bad"); }, "", "main:bad\n"},
      {4, [](Gates g) { debug_log(g, 4, "f", "Method Called"); }, "f:Method Called\n", ""},
      {2, [](Gates g) { debug_log(g, 3, "f", "x"); }, "", ""},
      {0, [](Gates g) { info_log(g, 0, "", "x"); }, "", ""},
      {0, [](Gates g) { console_printf(g, "report %d\n", 1); }, "report 1\n", ""},
      // A dry run's console is quiet, whatever the gates.
      {4, [](Gates g) { console_printf(g, "report\n"); }, "", "", true},
      {4, [](Gates g) { error_log(g, 1, "f", "x"); }, "", "", true},
      // Error lines show control characters; only the line ends that finish them stay.
      {1, [](Gates g) { error_log(g, 1, "f", "a\nb\r\t\x01\x1f\x7f\x80\xe9 ~\n\n"); }, "",
       "f:a\\nb\\r\\t\\x01\\x1f\\x7f\x80\xe9 ~\n\n\n"},
      {1, [](Gates g) { error_log(g, 1, "f", "\n"); }, "", "f:\n\n"},
      {1, [](Gates g) { info_log(g, 1, "  ", "%s", text.c_str()); }, "  " + cut.substr(2), ""},
      {1, [](Gates g) { debug_log(g, 1, "fn", "%s", text.c_str()); }, "fn:" + cut, ""},
      {1, [](Gates g) { error_log(g, 1, "fn", "%s", text.c_str()); }, "", "fn:" + cut},
      {1, [](Gates g) { error_log(g, 1, "fn", "%s", controls.c_str()); }, "", escaped},
      {1,
       [](Gates g) {
         Failure f;
         fail(&f, "fn", "%s", controls.c_str());
         write_failure(g, f);
       },
       "", escaped},
  };
  for (const Case &c : cases) {
    auto [out, err] = capture(c.gate, c.gate, c.gate, c.call, c.quiet);
    EXPECT_EQ(out, c.out) << c.gate << c.out.substr(0, 20) << c.err.substr(0, 20);
    EXPECT_EQ(err, c.err) << c.gate << c.out.substr(0, 20) << c.err.substr(0, 20);
  }
  EXPECT_EQ(capture(0, 1, 1, [](Gates g) { debug_log(g, 1, "f", "x"); }).first, "");  // debug off
}

// A file to read is opened only when regular, on any free descriptor, 0 as well.
TEST(Log, OpenFileReadsRegularFilesOnly) {
  const std::string dir = make_temp_dir();
  write_text(dir + "/f", "line\n");
  std::filesystem::create_directories(dir + "/sub");
  int saved_stdin = dup(0);
  close(0);
  Failure none;
  FILE *fp = open_file(LogGates{}, (dir + "/f").c_str(), "r", &none);
  char line[16] = {};
  EXPECT_TRUE(fp && fgets(line, sizeof line, fp));
  if (fp) fclose(fp);
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_STREQ(line, "line\n");
  const std::string unable = "open_file:Unable to open file " + dir;
  const std::tuple<const char *, const char *, std::string> refused[] = {
      {"/sub", "r", unable + "/sub: a directory, not a regular file\n"},
      {"/none", "r", unable + "/none\n"},
      {"/none/x", "w", unable + "/none/x\n"},  // other modes open as the C library does
  };
  for (const auto &[name, mode, want] : refused) {
    Outcome o = run_to_end([&](Failure *e) {
      return open_file(LogGates{}, (dir + name).c_str(), mode, e) != nullptr;
    });
    EXPECT_EQ(o.err, want) << name;
  }
  remove_dir(dir);
}

}  // namespace

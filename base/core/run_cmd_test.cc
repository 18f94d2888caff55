#include "base/core/run_cmd.h"

#include <gtest/gtest.h>

#include "base/core/cpu_count.h"
#include "base/core/shell_quote.h"

TEST(RunCmd, KeepsLastLineCutAtLineEnd) {
  struct Case {
    const char *cmd;
    int length;
    const char *want;
  } cases[] = {
      {"printf 'a\\nb\\nlast\\n'", 256, "last"},
      {"printf 'no line end'", 256, "no line end"},
      {"printf '123\\n'", 256, "123"},
      // Pieces shorter than the line: the last piece is the bare line end.
      {"printf '123\\n'", 4, ""},
      // A silent command leaves the output alone.
      {"true", 256, "untouched"},
  };
  for (const Case &c : cases) {
    char out[256] = "untouched";
    ASSERT_EQ(vtlb_run_cmd_and_get_last_line(c.cmd, c.length, out), 0) << c.cmd;
    EXPECT_STREQ(out, c.want) << c.cmd << " length " << c.length;
  }
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

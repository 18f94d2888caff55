#include "tools/replay_gen/interrupt.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

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

#include "tools/replay_gen/interrupt.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "tools/replay_gen/records.h"

namespace {

TEST(Interrupt, LineBeforeAnyReplayDirectoryAndCutToRoom) {
  char line[256];
  EXPECT_EQ(format_interrupt_line(15, nullptr, line, sizeof line),
            strlen("on_interrupt:Run stopped by signal 15; no replay directory was made.\n"));
  EXPECT_STREQ(line, "on_interrupt:Run stopped by signal 15; no replay directory was made.\n");
  format_interrupt_line(2, "vti_get_page 'p/s/x'", line, sizeof line);
  EXPECT_STREQ(line,
               "on_interrupt:Run stopped by signal 2 while the command vti_get_page 'p/s/x' "
               "ran (its process group was ended); no replay directory was made.\n");
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

}  // namespace

#include "tools/package/preview.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "base/core/golden_file_test_support.h"
#include "tools/replay_gen/run_state.h"

namespace {

TEST(PreviewWarnings, OnWhatTheToolSilentlyAccepts) {
  struct Case {
    std::vector<std::string> lines;
    const char *warning;  // "" for none
  } cases[] = {
      {{"REPLAY_PERIOD|31/01/2020 10:20:30|NA"},
       "line 1: REPLAY_PERIOD start 31/01/2020 10:20:30 looks like day/month; the month comes "
       "first, so it is read as 07/01/2022 10:20:30"},
      {{"REPLAY_PERIOD|01/02/2020 10:00:00|13/02/2020 10:00:00"}, "line 1: REPLAY_PERIOD end"},
      {{"NEW_USER_TIME|10min"},
       "line 1: NEW_USER_TIME 10min is not a duration (s, m:s, h:m:s or h:m:s.ms); the tool "
       "reads it as 10000 ms"},
      {{"NEW_USER_TIME|10:00.5"}, "reads it as 600000 ms"},
      {{"NEW_USER_TIME|1:2:3:4"}, "reads it as 3723000 ms"},
      {{"NEW_USER_TIME|:30"}, "reads it as 60000 ms"},
      {{"NEW_USER_TIME|1:00:00.500"}, ""},
      {{"REPLAY_PERIOD|12/01/2026 00:00:00|12/03/2026 01:27:28"}, ""},
      {{"# NUM_VMM|4"}, ""},
      {{"|||"}, ""},
      {{"INPUT_DIR|/logs|20201201"}, ""},
      {{"# c", "", "NEW_USER_TIME|x"}, "line 3: NEW_USER_TIME x"},  // comments and blanks count
  };
  setenv("TZ", "UTC", 1);
  for (const Case &c : cases) {
    std::vector<std::string> w = config_text_warnings(c.lines);
    ASSERT_EQ(w.size(), c.warning[0] ? 1u : 0u) << c.lines.back();
    if (c.warning[0]) {
      EXPECT_NE(w[0].find(c.warning), std::string::npos) << w[0];
    }
  }
}

// As the tool's pipeline counts: lines beginning "processor", once however long.
TEST(PreviewCpuCount, ProcessorLinesOfAnyLength) {
  const std::string piece(4095, 'x');
  struct Case {
    std::string text;
    int count;
  } cases[] = {
      {"", 0},
      {"processor\t: 0\nmodel name\t: processor\nprocessor\t: 1\n", 2},
      {" processor\nProcessor\nproc\n", 0},
      {"processor\t: 0\n" + piece + "processor\t: 1\n", 1},
      {"processor " + piece.substr(10) + "processor\n", 1},
      {piece.substr(1) + "\nprocessor", 1},
  };
  for (const Case &c : cases) {
    FILE *fp = c.text.empty() ? fopen("/dev/null", "r")
                              : fmemopen(const_cast<char *>(c.text.data()), c.text.size(), "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(count_processor_lines(fp), c.count) << c.text.substr(0, 40);
    fclose(fp);
  }
}

// Reports of runs that would succeed and fail, as text and JSON, as kept.
TEST(PreviewReport, ReportsAreAsKept) {
  PreviewReport ok;
  ok.config = "/kept/replay.conf";
  ok.input_files = {{"/kept/logs/20261201/extracts/SOAP.log.1", 123456, 700},
                    {"/kept/logs/20261201/extracts/SOAP.log.2", 0, 0}};
  ok.loaded = ok.package = true, ok.records = 700, ok.accepted = 650;
  ok.replay_dir = "/kept/out/replay";
  ProfileBuilder b;
  profile_begin(&b, 2, 1000);
  for (uint64_t i = 0; i < 650; i++) {
    ASSERT_TRUE(profile_add_request(&b, static_cast<int>(i % 2), static_cast<int>(i % 3), i * 1500,
                                    700 + i % 90, 600 + i % 90));
    if (i % 5 == 0) profile_add_user(&b, static_cast<int>(i % 2), i * 1500, i * 1500 + 6000);
  }
  profile_finish(&b, &ok.profile);
  ok.profile.rejected_by_code = {{102, 50}};
  ok.warnings = {"line 5: NUM_VMM: did you mean NUM_VVM? (the tool ignores the line)"};
  PreviewReport failing;
  failing.config = "/kept/bad \"name\".conf";
  failing.input_files = {{"/kept/unreadable", -1, 0}};
  failing.problems = {"input file /kept/unreadable cannot be read: the run would stop in Step 2",
                      "suite command vtu_change_page_name is not on PATH"};
  // Records read but no package: its rejected ones by code, and no list of files.
  PreviewReport loaded = failing;
  loaded.input_files.clear();
  loaded.loaded = true, loaded.records = 9, loaded.accepted = 4;
  loaded.profile.rejected_by_code = {{101, 3}, {104, 2}};
  const std::string dir = VT_PACKAGE_TESTDATA;
  expect_as_kept(format_preview_text(ok) + "\n" + format_preview_text(failing) + "\n" +
                     format_preview_text(loaded),
                 dir + "/preview.txt");
  expect_as_kept(format_preview_json(ok) + "\n" + format_preview_json(failing),
                 dir + "/preview.json");
}

}  // namespace

#include "tools/replay_gen/helpers.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tools/replay_gen/fatal.h"

namespace {

TEST(Duration, Forms) {
  struct Case {
    const char *text;
    int32_t ms;
  } cases[] = {
      {"90", 90000}, {"1:30", 90000},      {"1:00:00", 3600000}, {"0:0:1.250", 1250},
      {"1.5", 1000}, {"", 60000},          {"abc", 60000},       {"10:00", 600000},
      {"0", 0},      {"1:2:3.5", 3723005},
  };
  for (const Case &c : cases) EXPECT_EQ(get_time_from_format_local(c.text), c.ms) << c.text;
}

TEST(Tokens, CountsAndOverflow) {
  struct Case {
    const char *text;
    const char *sep;
    int max;
    int result;
    std::vector<std::string> fields;
  } cases[] = {
      {"a||b", "|", 10, 2, {"a", "b"}},
      {"|a|", "|", 10, 1, {"a"}},
      {"", "|", 10, 0, {}},
      {"a=b=c", "=", 2, 3, {"a", "b"}},
      {"a=b", "=", 2, 2, {"a", "b"}},
      {"x.y..z", ".", 5, 3, {"x", "y", "z"}},
  };
  for (const Case &c : cases) {
    std::string buf = c.text;
    char *fields[16];
    int n = get_tokens_local(buf.data(), fields, c.sep, c.max);
    EXPECT_EQ(n, c.result) << c.text;
    for (size_t k = 0; k < c.fields.size(); k++) EXPECT_STREQ(fields[k], c.fields[k].c_str());
  }
}

TEST(TableEntry, GrowsByFour) {
  uint16_t total = 0, max = 0, row = 99;
  char *table = nullptr;
  std::vector<uint16_t> rows;
  for (int i = 0; i < 9; i++) {
    ASSERT_EQ(create_table_entry(&row, &total, &max, &table, 8, "T"), 0);
    rows.push_back(row);
    if (i == 0) {
      EXPECT_EQ(max, 4);
    }
    if (i == 4) {
      EXPECT_EQ(max, 8);
    }
  }
  EXPECT_EQ(rows, (std::vector<uint16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(total, 9);
  EXPECT_EQ(max, 12);
  free(table);
}

TEST(TableEntry, FullSixteenBitTableEndsTheRun) {
  set_vt_exit_hook(throw_on_vt_exit);
  uint16_t total = 65532, max = 65532, row = 0;
  char *table = nullptr;
  testing::internal::CaptureStderr();
  int status = 0;
  try {
    create_table_entry(&row, &total, &max, &table, 1, "Service name");
  } catch (const VtExit &e) {
    status = e.status;
  }
  std::string err = testing::internal::GetCapturedStderr();
  set_vt_exit_hook(nullptr);
  EXPECT_EQ(status, -1);
  EXPECT_NE(err.find("Service name"), std::string::npos) << err;
  EXPECT_NE(err.find("65532"), std::string::npos) << err;
  EXPECT_EQ(total, 65532);
}

TEST(TableEntry, WideCountsPassSixteenBits) {
  uint32_t total = 65532, max = 65532, row = 0;
  char *table = static_cast<char *>(malloc(65532));
  ASSERT_EQ(create_table_entry(&row, &total, &max, &table, 1, "Request Node"), 0);
  EXPECT_EQ(row, 65532u);
  EXPECT_EQ(max, 65536u);
  free(table);
}

}  // namespace

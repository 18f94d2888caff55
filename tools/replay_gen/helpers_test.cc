#include "tools/replay_gen/helpers.h"

#include <fcntl.h>
#include <string.h>

#include <memory>
#include <tuple>

#include "base/core/failing_alloc_test_support.h"
#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/spill/spill_file.h"
#include "tools/replay_gen/test_support.h"

namespace {

TEST(Duration, Forms) {
  const std::pair<const char *, int32_t> cases[] = {
      {"90", 90000}, {"1:30", 90000},      {"1:00:00", 3600000}, {"0:0:1.250", 1250},
      {"1.5", 1000}, {"", 60000},          {"abc", 60000},       {"10:00", 600000},
      {"0", 0},      {"1:2:3.5", 3723005},
  };
  for (auto [text, ms] : cases) EXPECT_EQ(get_time_from_format_local(text), ms) << text;
}

// The step lines' date: month first, the year in two digits.
TEST(DateTime, MonthDayYearAndTime) {
  const char *tz = getenv("TZ");
  std::string old_tz = tz ? tz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  const std::pair<int64_t, const char *> cases[] = {{946684800, "01/01/00 00:00:00"},
                                                    {1796083246, "12/01/26 00:00:46"},
                                                    {4102444799, "12/31/99 23:59:59"}};
  char text[100];
  for (const auto &[seconds, want] : cases)
    EXPECT_STREQ(format_date_time(seconds, text), want) << seconds;
  tz ? setenv("TZ", old_tz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

TEST(Tokens, CountsAndOverflow) {
  struct Case {
    const char *text, *sep;
    int max, result;
    std::vector<std::string> fields;
  } cases[] = {
      {"a||b", "|", 10, 2, {"a", "b"}},
      {"|a|", "|", 10, 1, {"a"}},
      {"", "|", 10, 0, {}},
      {"a=b=c", "=", 2, 3, {"a", "b"}},
      {"a=b", "=", 2, 2, {"a", "b"}},
      {" \t1 2\t", " \t", 3, 2, {"1", "2"}},
      {"\xff|\xfe", "\xfe|", 3, 1, {"\xff"}},
  };
  for (const Case &c : cases) {
    std::string buf = c.text;
    char *fields[16];
    EXPECT_EQ(get_tokens_local(LogGates{}, buf.data(), fields, c.sep, c.max), c.result) << c.text;
    for (size_t k = 0; k < c.fields.size(); k++) EXPECT_STREQ(fields[k], c.fields[k].c_str());
  }
}

TEST(TableEntry, GrowsByFourUpToTheCountBound) {
  uint16_t total = 0, max = 0, row = 99;
  char *table = nullptr;
  auto add = [&](int size, const char *name) {
    return run_to_end([&](Failure *e) {
             return create_table_entry(&row, &total, &max, &table, size, name, e);
           })
        .text();
  };
  for (int i = 0; i < 12; i++) {
    ASSERT_EQ(add(8, "T"), "0");
    EXPECT_EQ(std::make_tuple(row, max), std::make_tuple(i, (i / 4 + 1) * 4)) << i;
  }
  // A table the system cannot grow fails, and keeps what it held.
  if (vt_alloc_failures_supported()) {
    char *held = table;
    vt_fail_alloc_of(16 * 8);
    EXPECT_EQ(add(8, "T"), "-1create_table_entry:Out of Memory: T (size = 128) for index -1\n");
    vt_fail_alloc_of(0);
    EXPECT_EQ(std::make_tuple(table, total, max), std::make_tuple(held, 12, 12));
  }
  free(table);
  table = nullptr;
  // So do a full table and one whose entries would take more than 2 GB.
  total = max = 65532;
  EXPECT_EQ(add(1, "Service name"),
            "-1create_table_entry:Table Service name is full: it cannot hold more than 65532 "
            "entries\n");
  EXPECT_EQ(total, 65532);
  total = max = 60000;
  EXPECT_EQ(add(40000, "T"), "-1create_table_entry:Trying to realloc a negative or 0 size (" +
                                 std::to_string(static_cast<int32_t>(60004 * 40000u)) +
                                 ") for index  -1\n");
  EXPECT_EQ(std::make_tuple(table, total, max), std::make_tuple(nullptr, 60000, 60000));
  // So does a text that would outgrow its 32-bit size, before it is grown.
  char *text = strdup("HTTP_A: 1\r\n");
  int32_t len = INT32_MAX - 8;
  Outcome out = run_to_end([&](Failure *e) {
    return append_text(&text, &len, "X-B: 2", "\r\n", "HTTP header", "f", e);
  });
  EXPECT_EQ(out.err, "f:Trying to realloc a negative or 0 size (-2147483648) for index  -1\n");
  EXPECT_EQ(len, INT32_MAX - 8);
  free(text);
}

// A copy the system cannot make fails, naming what it was for, its size and its row.
TEST(TableEntry, ACopyThatCannotBeMadeFails) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer refuses the size before the allocator";
#endif
  Outcome o = run_to_end(
      [&](Failure *e) { return copy_text(LogGates{}, "f", "URL", "abc", SIZE_MAX >> 2, e, 7); });
  EXPECT_EQ(o.err, "f:Out of Memory: URL (size = 4611686018427387906) for index 7\n");
  Failure f;
  char *copy = copy_text(LogGates{}, "f", "URL", "abc", 4, &f);
  EXPECT_STREQ(copy, "abc");
  free(copy);
}

// A run's end closes the spill files of its sorts and of its users.
TEST(RunStateValue, ItsEndClosesItsSpillFiles) {
  for (int slot = 0; slot < 4; slot++) {
    auto run = std::make_unique<RunState>();
    SpillFile **files[] = {&run->spill.by_uid.out, &run->spill.by_time.out, &run->spill.rows.out,
                           &run->spill.users};
    *files[slot] = new SpillFile;
    int fd = (*files[slot])->fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    run.reset();
    bool open_still = fcntl(fd, F_GETFD) != -1;
    EXPECT_FALSE(open_still) << slot;
    if (open_still) close(fd);
  }
}

}  // namespace

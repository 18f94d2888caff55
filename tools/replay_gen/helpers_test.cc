#include "tools/replay_gen/helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "base/core/failing_alloc_test_support.h"
#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/service_index.h"
#include "tools/replay_gen/spill/spill_file.h"
#include "tools/replay_gen/test_support.h"

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

// The step lines' date: month first, and the year's last two digits from
// 2000 on.
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
  if (tz)
    setenv("TZ", old_tz.c_str(), 1);
  else
    unsetenv("TZ");
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
      {"x.y..z", ".", 5, 3, {"x", "y", "z"}},
      {"a=b=c=d", "=", 2, 3, {"a", "b"}},
      {" \t1 2\t", " \t", 3, 2, {"1", "2"}},
      {"\xff|\xfe", "\xfe|", 3, 1, {"\xff"}},
  };
  for (const Case &c : cases) {
    std::string buf = c.text;
    char *fields[16];
    EXPECT_EQ(get_tokens_local(buf.data(), fields, c.sep, c.max), c.result) << c.text;
    for (size_t k = 0; k < c.fields.size(); k++) EXPECT_STREQ(fields[k], c.fields[k].c_str());
    // The buffer is cut where strtok_r would have cut it.
    std::string cut = c.text;
    char *save = nullptr;
    for (int k = 0; k <= c.max && strtok_r(k ? nullptr : cut.data(), c.sep, &save); k++) {
    }
    EXPECT_EQ(buf, cut) << c.text;
  }
}

TEST(TableEntry, GrowsByFourUpToTheCountBound) {
  uint16_t total = 0, max = 0, row = 99;
  char *table = nullptr;
  for (int i = 0; i < 9; i++) {
    ASSERT_EQ(create_table_entry(&row, &total, &max, &table, 8, "T"), 0);
    EXPECT_EQ(row, i);
    EXPECT_EQ(max, (i / 4 + 1) * 4) << i;
  }
  // A table the system cannot grow ends the run, and keeps what it held.
  while (total < max) ASSERT_EQ(create_table_entry(&row, &total, &max, &table, 8, "T"), 0);
  if (vt_alloc_failures_supported()) {
    char *held = table;
    vt_fail_alloc_of(16 * 8);
    Outcome o = run_to_end([&] { create_table_entry(&row, &total, &max, &table, 8, "T"); });
    vt_fail_alloc_of(0);
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.err, "create_table_entry:Out of Memory: T (size = 128) for index -1\n");
    EXPECT_EQ(std::make_tuple(table, total, max), std::make_tuple(held, 12, 12));
  }
  free(table);
  table = nullptr;
  // A full table ends the run.
  total = max = 65532;
  Outcome out =
      run_to_end([&] { create_table_entry(&row, &total, &max, &table, 1, "Service name"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_NE(out.err.find("Service name"), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("65532"), std::string::npos) << out.err;
  EXPECT_EQ(total, 65532);
  // And so does one whose entries would take more than 2 GB.
  total = max = 60000;
  out = run_to_end([&] { create_table_entry(&row, &total, &max, &table, 40000, "T"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err, "create_table_entry:Trying to realloc a negative or 0 size (" +
                         std::to_string(static_cast<int32_t>(60004 * 40000u)) +
                         ") for index  -1\n");
  EXPECT_EQ(std::make_tuple(table, total, max), std::make_tuple(nullptr, 60000, 60000));
  // So does a text that would outgrow its 32-bit size, before it is grown.
  char *text = strdup("HTTP_A: 1\r\n");
  int32_t len = INT32_MAX - 8;
  out = run_to_end([&] { append_text(&text, &len, "X-B: 2", "\r\n", "HTTP header", "f"); });
  EXPECT_EQ(out.status, -1);
  EXPECT_EQ(out.err, "f:Trying to realloc a negative or 0 size (-2147483648) for index  -1\n");
  EXPECT_EQ(len, INT32_MAX - 8);
  free(text);
}

// A copy the system cannot make ends the run, naming what it was for, its
// whole size and its row (-1 where it has none). The address sanitizer
// refuses such a size itself.
TEST(TableEntry, ACopyThatCannotBeMadeEndsTheRun) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer refuses the size before the allocator";
#endif
  const size_t huge = SIZE_MAX >> 2;
  EXPECT_EQ(run_to_end([&] { copy_text("f", "URL", "abc", huge); }).err,
            "f:Out of Memory: URL (size = 4611686018427387906) for index -1\n");
  EXPECT_EQ(run_to_end([&] { copy_text("f", "URL", "abc", huge, 7); }).err,
            "f:Out of Memory: URL (size = 4611686018427387906) for index 7\n");
  char *copy = copy_text("f", "URL", "abc", 4);
  EXPECT_STREQ(copy, "abc");
  free(copy);
}

// A fresh value replaces every part of the state, the tables it owned too.
TEST(RunStateValue, AFreshValueLeavesNothingOfTheOld) {
  auto parts = [] {
    return std::to_string(run.options.run_forcefully) + std::to_string(run.log.info_level) +
           run.config.host_name + (run.config.http_header ? "h" : "") +
           std::to_string(run.services.total_services) + std::to_string(run.files.num_seq_files) +
           std::to_string(run.records.time_zero_ms) + (run.users.tail ? "u" : "") +
           std::to_string(run.workers.last_vvm) + std::to_string(run.counters.total_requests) +
           run.script_input.vtu_gen_script_file_name + run.manifest.config_file +
           std::to_string(run.spill.budget) + run.spill.dir + run.replay_dir_state.fs_path;
  };
  const std::string fresh = parts();
  run.options.run_forcefully = 1;
  run.log.info_level = 4;
  strcpy(run.config.host_name, "h");
  run.config.http_header = strdup("A: 1\r\n");
  run.services.total_services = 1;
  run.services.service_map_ptr = static_cast<ServiceMap *>(calloc(1, sizeof(ServiceMap)));
  run.files.num_seq_files = 1;
  run.files.seq_file_path = static_cast<InputFileInfo *>(calloc(1, sizeof(InputFileInfo)));
  run.records.time_zero_ms = 7;
  run.users.head = run.users.tail = static_cast<UserNode *>(calloc(1, sizeof(UserNode)));
  run.workers.last_vvm = 3;
  run.counters.total_requests = 9;
  strcpy(run.script_input.vtu_gen_script_file_name, "/tmp/f");
  run.manifest.config_file = "c";
  run.spill.budget = 5;
  strcpy(run.spill.dir, "/tmp/s");
  run.replay_dir_state.fs_path = "r";
  run = RunState{};
  EXPECT_EQ(parts(), fresh);
}

// What the state owns goes back to the allocator with it: users and their
// requests, the configuration's texts, the services' strings and index,
// the input paths and the records. (The address sanitizer's allocator does not report
// through mallinfo2; its leak check covers the same ground there.)
TEST(RunStateValue, AFreshValueFreesWhatItOwns) {
  constexpr size_t kBig = 80 * 1024;  // under the allocator's mmap threshold
  auto big = [] { return static_cast<char *>(calloc(1, kBig)); };
  auto in_use = [] {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;  // the index's slots may be mapped on their own
  };
  // One service; each text is given alone, on a fresh state.
  auto service = []() -> ServiceMap & {
    run.services.service_map_ptr = static_cast<ServiceMap *>(calloc(1, sizeof(ServiceMap)));
    run.services.total_services = 1;
    return run.services.service_map_ptr[0];
  };
  std::vector<std::string> names(3000);  // the index keeps pointers to them
  for (size_t i = 0; i < names.size(); i++) names[i] = "s" + std::to_string(i);
  struct Owned {
    const char *what;
    std::function<void()> give;
  } owned[] = {
      {"users",
       [] {
         for (int i = 0; i < 2000; i++) {
           auto *user = static_cast<UserNode *>(calloc(1, sizeof(UserNode)));
           user->req_node = static_cast<ReqNode *>(calloc(200, sizeof(ReqNode)));
           user->next = run.users.head;
           run.users.head = user;
           if (!run.users.tail) run.users.tail = user;
         }
       }},
      {"http_header", [&] { run.config.http_header = big(); }},
      {"req_top_line", [&] { run.config.req_top_line = big(); }},
      {"scenario_keyword", [&] { run.config.scenario_keyword = big(); }},
      {"service_name", [&] { service().service_name = big(); }},
      {"all_headers", [&] { service().all_headers = big(); }},
      {"url", [&] { service().url = big(); }},
      {"service_header", [&] { service().service_header = big(); }},
      {"soap_action", [&] { service().soap_action = big(); }},
      {"input paths",
       [&] {
         run.files.seq_file_path = static_cast<InputFileInfo *>(calloc(2, sizeof(InputFileInfo)));
         run.files.num_seq_files = 2;
         for (int i = 0; i < 2; i++) run.files.seq_file_path[i].input_file = big();
       }},
      {"service index",
       [&] {
         for (const std::string &name : names)
           service_index_add(&run.services.service_index, name.c_str(), "u");
       }},
      {"records",
       [&] {
         run.records.seq_data_arr = static_cast<SeqData *>(calloc(1, kBig));
         run.records.seq_data_arr_copy = static_cast<SeqData *>(calloc(1, kBig));
       }},
  };
  for (const Owned &o : owned) {
    run = RunState{};
    size_t before = in_use();
    o.give();
    if (in_use() < before + kBig) {
      run = RunState{};
      GTEST_SKIP() << "this allocator does not report through mallinfo2";
    }
    run = RunState{};
    EXPECT_LT(in_use(), before + kBig / 2) << o.what;
  }
}

// And it closes the spill files of the sorts and of the users.
TEST(RunStateValue, AFreshValueClosesItsSpillFiles) {
  const std::pair<const char *, std::function<SpillFile **()>> slots[] = {
      {"uid_order", [] { return &run.spill.by_uid.out; }},
      {"time_order", [] { return &run.spill.by_time.out; }},
      {"user_order", [] { return &run.spill.rows.out; }},
      {"users", [] { return &run.spill.users; }},
  };
  for (const auto &[what, slot] : slots) {
    run = RunState{};
    auto *f = new SpillFile;
    f->fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(f->fd, 0);
    *slot() = f;
    int fd = f->fd;
    run = RunState{};
    bool open_still = fcntl(fd, F_GETFD) != -1;
    EXPECT_FALSE(open_still) << what;
    if (open_still) close(fd);  // and f is lost: the test has failed
  }
}

}  // namespace

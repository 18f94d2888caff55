#include "tools/replay_gen/loader/input_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/core/failing_alloc_test_support.h"
#include "base/core/open_descriptors_test_support.h"
#include "tools/replay_gen/loader/input_filters.h"
#include "tools/replay_gen/loader/input_open_limit.h"
#include "tools/replay_gen/loader/input_paths.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// Capture days with files named every way; INPUT_DIR values write its base directory as "B".
class InputFiles : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = make_temp_dir();
    const std::pair<const char *, Names> tree[] = {
        {"20201130", {"SOAP.log.1"}},
        {"20201201",
         {"SOAP.log.1", "SOAP.log.2", "SOAP.log.10", "SOAP.log.0", "SOAP.log.01", "SOAP.log_7",
          "SOAP.log.1a", "SOAP.log", "other.log", "xSOAP.log.1", "soap.log.1"}},
        {"20201202", {"SOAP.log.3"}},
        {"20201203", {"SOAP.log.1", "SOAP.log.2"}},
        {"20201204", {"SOAP.log.1"}},
        {"20201206",
         {"SOAP.log1", "SOAP.log2", "SOAP.log3", "SOAP.log4", "SOAP.log12", "SOAP.log3x"}},
        {"2020120x", {"SOAP.log.1"}},
        {"abc", {"SOAP.log.1"}},
    };
    for (const auto &[dir, files] : tree)
      for (const std::string &f : files) write_text(base_ + "/" + dir + "/extracts/" + f, "");
    fs::create_directories(base_ + "/20201205");  // no extracts
    fs::create_directories(base_ + "/notadate");  // 8 characters, no extracts
    write_text(base_ + "/filedate", "");          // 8 characters, no directory
  }
  static void TearDownTestSuite() { remove_dir(base_); }

  Outcome list(const std::string &value) {
    run_ = std::make_unique<RunState>();
    std::string v = value[0] == 'B' ? base_ + value.substr(1) : value;
    snprintf(run().config.input_dir, sizeof(run().config.input_dir), "INPUT_DIR|%s", v.c_str());
    return run_to_end([&](Failure *e) { return gen_input_file_list(run(), e); });
  }
  // The files found, as "MMDD:<name after SOAP.log>", sorted unless in_order.
  std::string list_for(const std::string &value, bool in_order) {
    EXPECT_EQ(list(value).status, 0) << value;
    Names names;
    for (int i = 0; i < run().files.num_seq_files; i++) {
      std::string p = run().files.seq_file_path[i].input_file;
      EXPECT_EQ(p.compare(0, base_.size() + 5, base_ + "/2020"), 0) << p;
      EXPECT_EQ(p.compare(base_.size() + 9, 18, "/extracts/SOAP.log"), 0) << p;
      names.push_back(p.substr(base_.size() + 5, 4) + ":" + p.substr(base_.size() + 27));
    }
    if (!in_order) std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &n : names) out += (out.empty() ? "" : " ") + n;
    return out;
  }

  RunState &run() { return *run_; }
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
  static std::string base_;
};

std::string InputFiles::base_;

// Each form of INPUT_DIR, its files or refusal (100 names, not 101); every directory closed again.
TEST_F(InputFiles, FormsOfInputDir) {
  const std::string all =
      "1130:.1 1201:.1 1201:.10 1201:.2 1201:_7 1202:.3 1203:.1 1203:.2 1204:.1 1206:1 1206:12 "
      "1206:2 1206:3 1206:4 120x:.1";
  const struct {
    std::string value;
    bool in_order;  // date directories and range files come in listing order
    std::string files;
  } forms[] = {
      {"B", false, all},
      {"B|", false, all},
      {"B|20201201", true, "1201:.1 1201:.2 1201:_7 1201:.10"},
      {"B|20201201|", true, "1201:.1 1201:.2 1201:_7 1201:.10"},
      {"B|20201201,20201203|SOAP.log.1,SOAP.log.2", true, "1201:.1 1201:.2 1203:.1 1203:.2"},
      {"B|20201203,,20201201|,SOAP.log.9", true, "1203:.9 1201:.9"},
      {"B|20201201-20201203", false, "1201:.1 1201:.10 1201:.2 1201:_7 1202:.3 1203:.1 1203:.2"},
      {"B|20200229-20201130", false, "1130:.1"},
      {"B|20201206|SOAP.log1-SOAP.log3", false, "1206:1 1206:12 1206:2 1206:3 1206:3x"},
      {"B|20201130-20201201|SOAP.log.1-SOAP.log.1", false,
       "1130:.1 1201:.0 1201:.01 1201:.1 1201:.10 1201:.1a 1201:.2"},
      {"B||", true, ""},
      {"B|20201201|,", true, ""},
      {"B|20201205", true, ""},
  };
  std::string names;  // 101
  for (int i = 1; i <= 101; i++) names += "SOAP.log." + std::to_string(i) + ",";
  // Refused forms: the message after "gen_input_file_list:", {B} the base.
  auto invalid = [](const char *date, const char *range) {
    return "Invalid date \"" + std::string(date) + "\" in the date range " + range +
           " of INPUT_DIR: expected a calendar date YYYYMMDD from 19710101 to 21051231";
  };
  const struct {
    std::string value, message;
  } refused[] = {
      {"B/missing", "Unable to open based dir {B}/missing for reading "},
      {"B/20201205", "Unable to list date format dir under based dir {B}/20201205 for reading "},
      {"B|20201210-20201231", "Unable to list date format dir under based dir {B} for reading "},
      {"B|20201201,20201209", "Unable to open dir {B}/20201209"},
      {"B|2020120-20201203", invalid("2020120", "2020120-20201203")},
      {"B|20201201-2020123", invalid("2020123", "20201201-2020123")},
      {"B|20201201-20201232", invalid("20201232", "20201201-20201232")},
      {"B|-20201232", invalid("", "-20201232")},
      {"B|20201203-20201201",
       "The date range 20201203-20201201 of INPUT_DIR ends before it starts"},
      {"B|20201206|log1-SOAP.log3",
       "Invalid file range log1-SOAP.log3 in INPUT_DIR: both names need at least 9 characters, as "
       "in SOAP.log1-SOAP.log3"},
      {"B|20201201|" + names,
       "INPUT_DIR list holds more than 100 names; list at most 100 or use a range"},
  };
  long before = vt_open_descriptors();
  for (const auto &c : forms) EXPECT_EQ(list_for(c.value, c.in_order), c.files) << c.value;
  for (const auto &c : refused) {
    std::string want = "-1gen_input_file_list:" + c.message + "\n";
    if (size_t at = want.find("{B}"); at != std::string::npos) want.replace(at, 3, base_);
    EXPECT_EQ(list(c.value).text(), want) << c.value.substr(0, 60);
  }
  EXPECT_EQ(vt_open_descriptors(), before);
  std::string listed = list_for("B|20201201|" + names.substr(0, names.find("SOAP.log.101")), true);
  EXPECT_EQ(std::count(listed.begin(), listed.end(), ' '), 99);
  EXPECT_EQ(listed.substr(listed.rfind(' ') + 1), "1201:.100");
}

// An unlistable extracts directory ends the run with the system's reason, in each form listing it.
TEST_F(InputFiles, UnlistableExtractsFailTheRun) {
  const std::string tree = make_temp_dir();
  write_text(tree + "/20201201/extracts/SOAP.log.1", "");
  fs::create_directories(tree + "/20201202");
  fs::create_symlink("extracts", tree + "/20201202/extracts");  // a loop
  const std::string fail = "-1gen_input_file_list:Unable to list input directory " + tree;
  const std::string loop = ": Too many levels of symbolic links\n";
  for (auto [form, at] : {std::pair{"", "extracts"},
                          {"|20201201,20201202", "extracts"},
                          {"|20201201-20201202|SOAP.log1-SOAP.log3", "extracts/"}})
    EXPECT_EQ(list(tree + form).text(), fail + "/20201202/" + at + loop) << form;
  remove_dir(tree);
}

// Small numbers are ordered in FormsOfInputDir; these exceed 64 bits.
TEST(InputFilters, NumericOrderOfLongNumbers) {
  struct dirent da = {}, db = {};
  const struct dirent *pa = &da, *pb = &db;
  snprintf(da.d_name, sizeof(da.d_name), "SOAP.log.99999999999999999999");
  snprintf(db.d_name, sizeof(db.d_name), "SOAP.log.100000000000000000000");
  EXPECT_LT(my_alpha_sort(&pa, &pb), 0);
  EXPECT_GT(my_alpha_sort(&pb, &pa), 0);
  // A name without a number comes first: what lies past its end is not read.
  memcpy(da.d_name, "SOAP.log.\0\x39\x39", 12);
  snprintf(db.d_name, sizeof(db.d_name), "SOAP.log.1");
  EXPECT_LT(my_alpha_sort(&pa, &pb), 0);
}

TEST(InputFilters, DatesAndNumbers) {
  for (const char *yes : {"20200229", "20000229", "21051231", "20201201x"})
    EXPECT_TRUE(begins_with_range_date(yes)) << yes;
  for (const char *no : {"20190229", "21000229", "20201301", "20201131", "19701231", "21060101",
                         "2020120", "2020120x", ""})
    EXPECT_FALSE(begins_with_range_date(no)) << no;
  // Every month's last day, and the day after it, in a common year.
  const int last[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 1; m <= 12; m++)
    for (int d : {last[m - 1], last[m - 1] + 1}) {
      std::string day = "2026" + std::string(m < 10, '0') + std::to_string(m) + std::to_string(d);
      EXPECT_EQ(begins_with_range_date(day.c_str()), d == last[m - 1]) << day;
    }

  // Local midnight, also where daylight saving time begins and ends. (No other test needs TZ.)
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  for (const char *day : {"20200329", "20201025", "21051231", "19710101"}) {
    time_t t = get_timestamp(day);
    struct tm lt;
    localtime_r(&t, &lt);
    char back[32];
    strftime(back, sizeof(back), "%Y%m%d %H:%M:%S", &lt);
    EXPECT_EQ(std::string(back), std::string(day) + " 00:00:00");
  }
  EXPECT_EQ(get_timestamp("20200330") - get_timestamp("20200329"), 23u * 3600);
}

TEST(InputLimits, OpenFileLimitAndPathLength) {
  // A soft limit below the hard one is raised to it.
  struct rlimit lim;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  ASSERT_GT(lim.rlim_max, 512u);
  struct rlimit lowered = {512, lim.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  int64_t limit = raise_open_file_limit(LogGates{});
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  EXPECT_EQ(lim.rlim_cur, lim.rlim_max);
  EXPECT_EQ(static_cast<rlim_t>(limit), lim.rlim_max);
  EXPECT_GE(limit, 1024);

  RunState run;
  run.workers.num_vvm = 2, run.options.g_num_thread = 1;
  int64_t reserved =
      reserved_descriptors(2, 1, static_cast<int>(std::thread::hardware_concurrency()));
  EXPECT_LT(reserved, 64);  // a hard limit of 1024 leaves room for most runs
  // At most as many files as the limit leaves beside the reserved descriptors.
  for (int32_t files : {100, 101})
    EXPECT_EQ(run_to_end([&](Failure *e) {
                return check_input_file_count(run, files, 100 + reserved, e);
              }).status,
              files > 100 ? -1 : 0);

  // Standard descriptors, 2 a worker, 1 a loader (processors when not set), 2 a writer (1 a
  // processor, at most 1 a worker, at least 1), the spare ones.
  struct Reserve {
    int workers, loaders, cpus;
    int64_t descriptors;
  } reserves[] = {
      {4, 0, 2, 3 + 8 + 2 + 4 + kSpareDescriptors},
      {1, 3, 8, 3 + 2 + 3 + 2 + kSpareDescriptors},
      {0, 0, 0, 3 + 0 + 1 + 2 + kSpareDescriptors},
  };
  for (const Reserve &r : reserves)
    EXPECT_EQ(reserved_descriptors(r.workers, r.loaders, r.cpus), r.descriptors) << r.workers;

  // The longest path fits; one more character is refused.
  std::string long_name(kTextBufSize - 3, 'x');
  char path[kTextBufSize];
  Failure err;
  EXPECT_EQ(format_input_path(&err, path, "a/%s", long_name.c_str()), kTextBufSize - 1);
  EXPECT_LT(format_input_path(&err, path, "ab/%s", long_name.c_str()), 0);
  ASSERT_EQ(err.lines.size(), 1u);
  EXPECT_EQ(err.lines[0].text.rfind("Path is too long (more than 9999 characters)", 0), 0u);
}

// A list of input files that would outgrow 2 GiB fails before it takes another path, and stays.
TEST(InputLimits, ListThatCannotGrow) {
  const int32_t full = static_cast<int32_t>(INT32_MAX / sizeof(InputFileInfo) / 2 + 1);
  const int32_t asked = static_cast<int32_t>(int64_t{full} * 2 * sizeof(InputFileInfo));
  RunState run;
  auto append = [&] {
    return run_to_end([&](Failure *e) { return append_input_file(run, "a", 1, "path", e); });
  };
  run.files.num_seq_files = run.files.max_seq_files = full;
  Outcome o = append();
  EXPECT_EQ(run.files.num_seq_files, full);
  run.files.num_seq_files = run.files.max_seq_files = 0;
  EXPECT_EQ(o.text(), "-1gen_input_file_list:Trying to realloc a negative or 0 size (" +
                          std::to_string(asked) + ") for index  -1\n");
  // Nor can a list the system has no memory for.
  if (vt_alloc_failures_supported()) {
    const size_t first = 64 * sizeof(InputFileInfo);
    vt_fail_alloc_of(first);
    o = append();
    vt_fail_alloc_of(0);
    EXPECT_EQ(o.text(), "-1gen_input_file_list:Out of Memory: seq_file_path (size = " +
                            std::to_string(first) + ") for index -1\n");
  }
}

}  // namespace

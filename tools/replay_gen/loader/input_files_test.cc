#include "tools/replay_gen/loader/input_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/loader/input_filters.h"
#include "tools/replay_gen/loader/input_open_limit.h"
#include "tools/replay_gen/loader/input_paths.h"
#include "tools/replay_gen/records.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class InputFiles : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/input_files_test.XXXXXX";
    base_ = mkdtemp(tmpl);
    const std::pair<const char *, Names> tree[] = {
        {"20201130", {"SOAP.log.1"}},
        {"20201201",
         {"SOAP.log.1", "SOAP.log.2", "SOAP.log.10", "SOAP.log.0", "SOAP.log.01", "SOAP.log_7",
          "SOAP.log.1a", "SOAP.log", "other.log"}},
        {"20201202", {"SOAP.log.3"}},
        {"20201203", {"SOAP.log.1", "SOAP.log.2"}},
        {"20201204", {"SOAP.log.1"}},
        {"20201206",
         {"SOAP.log1", "SOAP.log2", "SOAP.log3", "SOAP.log4", "SOAP.log12", "SOAP.log3x"}},
        {"2020120x", {"SOAP.log.1"}},
        {"abc", {"SOAP.log.1"}},
    };
    for (const auto &[dir, files] : tree) {
      fs::create_directories(base_ + "/" + dir + "/extracts");
      for (const std::string &f : files) std::ofstream(base_ + "/" + dir + "/extracts/" + f);
    }
    fs::create_directories(base_ + "/20201205");  // no extracts
    fs::create_directories(base_ + "/notadate");  // 8 characters, no extracts
  }
  static void TearDownTestSuite() { fs::remove_all(base_); }

  void TearDown() override { clear_list(); }

  static void clear_list() {
    for (int i = 0; i < num_seq_files; i++) free(seq_file_path[i].input_file);
    free(seq_file_path);
    seq_file_path = nullptr;
    num_seq_files = max_seq_files = 0;
  }

  // Replaces "B" at the start of value with the tree's base directory.
  static void set_input_dir(const std::string &value) {
    std::string v = value[0] == 'B' ? base_ + value.substr(1) : value;
    snprintf(input_dir, sizeof(input_dir), "INPUT_DIR|%s", v.c_str());
  }

  // The list found for value, as "date/file" under the base directory.
  static Names list_for(const std::string &value) {
    clear_list();
    set_input_dir(value);
    gen_input_file_list();
    Names out;
    for (int i = 0; i < num_seq_files; i++) {
      std::string p = seq_file_path[i].input_file;
      EXPECT_EQ(p.compare(0, base_.size() + 1, base_ + "/"), 0) << p;
      p.erase(0, base_.size() + 1);
      EXPECT_EQ(p.compare(8, 10, "/extracts/"), 0) << p;
      out.push_back(p.erase(8, 9));
    }
    return out;
  }

  // The exit status and standard error of a run that must fail.
  static std::pair<int, std::string> failure_for(const std::string &value) {
    clear_list();
    set_input_dir(value);
    set_vt_exit_hook(throw_on_vt_exit);
    testing::internal::CaptureStderr();
    int status = 0;
    try {
      gen_input_file_list();
    } catch (const VtExit &e) {
      status = e.status;
    }
    set_vt_exit_hook(nullptr);
    return {status, testing::internal::GetCapturedStderr()};
  }

  static std::string base_;
};

std::string InputFiles::base_;

TEST_F(InputFiles, FormsOfInputDir) {
  const Names all = {"20201130/SOAP.log.1", "20201201/SOAP.log.1",  "20201201/SOAP.log.2",
                     "20201201/SOAP.log_7", "20201201/SOAP.log.10", "20201202/SOAP.log.3",
                     "20201203/SOAP.log.1", "20201203/SOAP.log.2",  "20201204/SOAP.log.1",
                     "20201206/SOAP.log1",  "20201206/SOAP.log2",   "20201206/SOAP.log3",
                     "20201206/SOAP.log4",  "20201206/SOAP.log12",  "2020120x/SOAP.log.1"};
  const Names dec01 = {"20201201/SOAP.log.1", "20201201/SOAP.log.2", "20201201/SOAP.log_7",
                       "20201201/SOAP.log.10"};
  struct Case {
    const char *value;
    bool any_order;  // date directories or range files come in listing order
    Names files;
  } cases[] = {
      {"B", true, all},
      {"B|", true, all},
      {"B|20201201", false, dec01},
      {"B|20201201|", false, dec01},
      {"B|20201201,20201203|SOAP.log.1,SOAP.log.2",
       false,
       {"20201201/SOAP.log.1", "20201201/SOAP.log.2", "20201203/SOAP.log.1",
        "20201203/SOAP.log.2"}},
      {"B|20201203,,20201201|,SOAP.log.9", false, {"20201203/SOAP.log.9", "20201201/SOAP.log.9"}},
      {"B|20201201-20201203",
       true,
       {"20201201/SOAP.log.1", "20201201/SOAP.log.2", "20201201/SOAP.log_7", "20201201/SOAP.log.10",
        "20201202/SOAP.log.3", "20201203/SOAP.log.1", "20201203/SOAP.log.2"}},
      {"B|20200229-20201130", true, {"20201130/SOAP.log.1"}},
      {"B|20201206|SOAP.log1-SOAP.log3",
       true,
       {"20201206/SOAP.log1", "20201206/SOAP.log2", "20201206/SOAP.log3", "20201206/SOAP.log12",
        "20201206/SOAP.log3x"}},
      {"B|20201130-20201201|SOAP.log.1-SOAP.log.1",
       true,
       {"20201130/SOAP.log.1", "20201201/SOAP.log.1", "20201201/SOAP.log.2", "20201201/SOAP.log.10",
        "20201201/SOAP.log.0", "20201201/SOAP.log.01", "20201201/SOAP.log.1a"}},
      {"B||", false, {}},
      {"B|,|", false, {}},
      {"B|20201201|,", false, {}},
      {"B|20201205", false, {}},
  };
  for (Case &c : cases) {
    Names got = list_for(c.value);
    if (c.any_order) {
      std::sort(got.begin(), got.end());
      std::sort(c.files.begin(), c.files.end());
    }
    EXPECT_EQ(got, c.files) << c.value;
  }
}

TEST_F(InputFiles, ErrorMessages) {
  std::string many_names;
  for (int i = 1; i <= 101; i++) many_names += "SOAP.log." + std::to_string(i) + ",";
  struct Case {
    std::string value;
    std::string message;
  } cases[] = {
      {"B/missing", "Unable to open based dir {B}/missing for reading "},
      {"B/20201205", "Unable to list date format dir under based dir {B}/20201205 for reading "},
      {"B|20201210-20201231", "Unable to list date format dir under based dir {B} for reading "},
      {"B|20201201,20201209", "Unable to open dir {B}/20201209"},
      {"B|2020120-20201203",
       "Invalid date \"2020120\" in the date range 2020120-20201203 of INPUT_DIR: expected a "
       "calendar date YYYYMMDD from 19710101 to 21051231"},
      {"B|20200230-20200301",
       "Invalid date \"20200230\" in the date range 20200230-20200301 of INPUT_DIR: expected a "
       "calendar date YYYYMMDD from 19710101 to 21051231"},
      {"B|20201203-20201201",
       "The date range 20201203-20201201 of INPUT_DIR ends before it starts"},
      {"B|20201206|log1-SOAP.log3",
       "Invalid file range log1-SOAP.log3 in INPUT_DIR: both names need at least 9 characters, "
       "as in SOAP.log1-SOAP.log3"},
      {"B|20201201|" + many_names,
       "INPUT_DIR list holds more than 100 names; list at most 100 or use a range"},
  };
  for (Case &c : cases) {
    auto [status, err] = failure_for(c.value.c_str());
    std::string want = "gen_input_file_list:" + c.message + "\n";
    if (size_t at = want.find("{B}"); at != std::string::npos) want.replace(at, 3, base_);
    EXPECT_EQ(status, -1) << c.value;
    EXPECT_EQ(err, want) << c.value;
  }
}

TEST(InputFilters, FileNameTests) {
  start_file_ptr = "1";
  end_file_ptr = "3";
  struct Case {
    const char *name;
    int all_files;  // filter_file_name
    int in_range;   // filter_file_name_and_range, 9th character from '1' to '3'
  } cases[] = {
      {"SOAP.log.1", 1, 0},  {"SOAP.log.27", 1, 0}, {"SOAP.log1", 1, 1},   {"SOAP.log", 0, 0},
      {"SOAP.log.0", 0, 0},  {"SOAP.log.05", 0, 0}, {"SOAP.log.1a", 0, 0}, {"SOAP.log_7", 1, 0},
      {"SOAP.log3x", 0, 1},  {"SOAP.log4", 1, 0},   {"SOAP.log12", 1, 1},  {"soap.log.1", 0, 0},
      {"xSOAP.log.1", 0, 0},
  };
  struct dirent d = {};
  for (const Case &c : cases) {
    snprintf(d.d_name, sizeof(d.d_name), "%s", c.name);
    EXPECT_EQ(filter_file_name(&d) != 0, c.all_files) << c.name;
    EXPECT_EQ(filter_file_name_and_range(&d) != 0, c.in_range) << c.name;
  }
}

// Small numbers are ordered in FormsOfInputDir; these exceed 64 bits.
TEST(InputFilters, NumericOrderOfLongNumbers) {
  struct Case {
    const char *a, *b;
    int sign;
  } cases[] = {
      {"SOAP.log.123456789012345678901", "SOAP.log.123456789012345678902", -1},
      {"SOAP.log.99999999999999999999", "SOAP.log.100000000000000000000", -1},
  };
  struct dirent da = {}, db = {};
  const struct dirent *pa = &da, *pb = &db;
  for (const Case &c : cases) {
    snprintf(da.d_name, sizeof(da.d_name), "%s", c.a);
    snprintf(db.d_name, sizeof(db.d_name), "%s", c.b);
    int r = my_alpha_sort(&pa, &pb);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " " << c.b;
  }
}

TEST(InputFilters, DatesAndNumbers) {
  struct Case {
    const char *text;
    bool range_date;
  } cases[] = {
      {"20201201", true},  {"20200229", true},  {"20190229", false}, {"21000229", false},
      {"20001231", true},  {"20201301", false}, {"20201200", false}, {"20201131", false},
      {"19701231", false}, {"21051231", true},  {"21060101", false}, {"2020120", false},
      {"", false},         {"2020120x", false}, {"20201201x", true}, {"..", false},
  };
  for (const Case &c : cases) EXPECT_EQ(begins_with_range_date(c.text), c.range_date) << c.text;

  // Local midnight, also on the days daylight saving time begins and ends.
  std::string old_tz = getenv("TZ") ? getenv("TZ") : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  for (const char *day : {"20201201", "20200329", "20201025", "21051231", "19710101"}) {
    time_t t = get_timestamp(day);
    struct tm lt;
    localtime_r(&t, &lt);
    char back[32];
    strftime(back, sizeof(back), "%Y%m%d %H:%M:%S", &lt);
    EXPECT_EQ(std::string(back), std::string(day) + " 00:00:00");
  }
  EXPECT_EQ(get_timestamp("20200330") - get_timestamp("20200329"), 23u * 3600);
  if (old_tz.empty()) {
    unsetenv("TZ");
  } else {
    setenv("TZ", old_tz.c_str(), 1);
  }
  tzset();
}

TEST(InputLimits, OpenFileLimitAndPathLength) {
  int64_t limit = raise_open_file_limit();
  struct rlimit lim;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  EXPECT_EQ(lim.rlim_cur, lim.rlim_max);
  EXPECT_GE(limit, 1024);

  set_vt_exit_hook(throw_on_vt_exit);
  check_input_file_count(100, 1124);
  testing::internal::CaptureStderr();
  EXPECT_THROW(check_input_file_count(101, 1124), VtExit);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "gen_input_file_list:Too many input files: 101 found, but at most 100 can stay open "
            "(open file limit 1124 less 1024 kept for the tool's own files). Select fewer files "
            "in INPUT_DIR or raise the hard limit (ulimit -Hn)\n");

  std::string long_name(kTextBufSize - 3, 'x');
  char path[kTextBufSize];
  EXPECT_EQ(format_input_path(path, "a/%s", long_name.c_str()), kTextBufSize - 1);
  testing::internal::CaptureStderr();
  EXPECT_THROW(format_input_path(path, "ab/%s", long_name.c_str()), VtExit);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("gen_input_file_list:Path is too long (more than 9999 characters)", 0), 0u)
      << err.substr(0, 100);
  set_vt_exit_hook(nullptr);
}

}  // namespace

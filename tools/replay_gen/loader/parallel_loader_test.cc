#include "tools/replay_gen/loader/parallel_loader.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "base/core/failing_alloc_test_support.h"
#include "base/core/failing_thread_test_support.h"
#include "tools/replay_gen/error_log_path.h"
#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/spill_dir.h"
#include "tools/replay_gen/test_support.h"

namespace {

using namespace loader_test;

// Loader threads from the processor and file counts: never more than -n
// may ask for (1024), nor a count wrapped around.
TEST(ThreadCount, FromCpusAndFiles) {
  const struct {
    int cpus, files, threads;
  } cases[] = {{16, 1, 1}, {16, 40, 12},       {8, 5, 4},          {8, 3, 1},           {4, 2, 2},
               {2, 9, 1},  {1028, 2000, 1024}, {1029, 2000, 1024}, {70000, 70000, 1024}};
  for (const auto &c : cases) {
    int16_t n = 0;
    set_num_threads(&n, c.cpus, c.files);
    EXPECT_EQ(n, c.threads) << c.cpus << " cpus, " << c.files << " files";
  }
}

// Record i of file f names one of the first 4 + f services, so that every
// file brings services no file before it has; padded bodies keep a thread
// on its file while the others claim theirs.
std::string make_spread_log(int file, int count) {
  const std::string padding = "<Pad>" + std::string(1500, 'p') + "</Pad>\n";
  std::string text;
  for (int i = 0; i < count; i++) {
    int n = file * 1000 + i, service = (i * 7 + file * 3) % (4 + file);
    std::string uid = n % 9 ? "<XACustId>" + std::to_string(n % 13) + "</XACustId>\n" : "";
    std::string time = i % 11 == 10 ? "bad" : std::to_string(1600000000 + n % 300) + ".250000";
    text += "RequestTimeEx=" + time + "\nHTTP_SOAPACTION=\"urn:S/I" + std::to_string(service % 3) +
            "/Op" + std::to_string(service) + "\"\nURL=/svc/" + std::to_string(service % 5) +
            ".svc\nxml1=000000001<Body n=\"" + std::to_string(n) + "\">\n" + uid + padding +
            "</Body>&xmlEnd=00\n*******\n\n";
  }
  return text;
}

class LoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir();
    const int sizes[] = {40, 3, 0, 25, 61, 7};
    for (int f = 0; f < 6; f++)
      files_.push_back(
          write_text(dir_ + "/SOAP.log." + std::to_string(f), make_spread_log(f, sizes[f])));
  }
  void TearDown() override {
    run_.reset();
    remove_dir(dir_);
  }
  RunState &run() { return *run_; }

  // The load of a fresh run of files_ (changed by then, its thread arrays
  // growing while loading) with n threads, its files limited to limit bytes
  // when given; the console goes to console_.
  Outcome load_to_end(int16_t threads, const std::function<void(RunState &)> &then = nullptr,
                      rlim_t limit = 0) {
    run_ = std::make_unique<RunState>();
    snprintf(run().config.replay_dir, sizeof run().config.replay_dir, "%s", dir_.c_str());
    run().config.g_msgcount_per_file = 8;
    add_configured_service(run(), "IA_Get", "http://127.0.0.1/svc/0.svc", "XACustId");
    for (const std::string &path : files_) add_input_file(run(), path);
    run().options.g_num_thread = threads;
    if (then) then(run());
    testing::internal::CaptureStdout();
    auto load = [&](Failure *e) { return load_input_data_files(run(), e); };
    Outcome o = limit ? run_with_file_size_limit(limit, load) : run_to_end(load);
    console_ = testing::internal::GetCapturedStdout();
    return o;
  }

  // Records (file, offset, size, time, uid, seq, service), services (name,
  // URL, SOAP action, requests) in table order, counters and file counts.
  struct Result {
    std::vector<std::tuple<uint32_t, off_t, uint64_t, uint64_t, int64_t, uint64_t, int16_t>>
        records;
    std::vector<std::tuple<std::string, std::string, std::string, uint64_t>> services;
    std::vector<uint64_t> counters;
    std::vector<int32_t> per_file;
  };
  Result result() {
    Result r;
    const RunState &run = this->run();
    for (uint64_t i = 0; i < run.counters.g_valid_msgcount; i++) {
      const SeqData &s = run.records.seq_data_arr[i];
      r.records.push_back(
          {s.seq_index, s.req_offset, s.req_size, s.time_stamp, s.uid, s.seq, s.service_id});
    }
    for (int i = 0; i < run.services.total_services; i++) {
      const ServiceMap &e = run.services.service_map_ptr[i];
      r.services.push_back(
          {e.service_name, e.url, e.soap_action ? e.soap_action : "", e.num_requests});
    }
    r.counters = {run.counters.g_msgcount, run.counters.g_valid_msgcount,
                  run.counters.g_ignore_request, run.counters.g_no_xacustid_messages,
                  run.counters.g_empty_xacustid_messages};
    for (int i = 0; i < run.files.num_seq_files; i++)
      r.per_file.push_back(run.files.seq_file_path[i].msgcount);
    return r;
  }

  std::string dir_, console_;
  std::vector<std::string> files_;
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
};

// Files of many sizes, each bringing new services: whichever thread claims
// which file, the records, their order and numbers, the services and their
// order are those of one thread.
TEST_F(LoaderTest, AnyThreadCountGivesTheOneThreadResult) {
  const int sizes[] = {900, 2, 0, 150, 300, 40, 7, 500, 1, 260, 60, 0, 700, 33, 120, 5, 410, 90};
  files_.clear();
  for (int f = 0; f < 18; f++)
    files_.push_back(
        write_text(dir_ + "/spread.log." + std::to_string(f), make_spread_log(f, sizes[f])));
  ASSERT_EQ(load_to_end(1).status, 0);
  Result one = result();
  ASSERT_GT(one.services.size(), 20u);
  for (int16_t threads : {2, 3, 7}) {
    for (int repeat = 0; repeat < 4; repeat++) {
      ASSERT_EQ(load_to_end(threads).status, 0);
      Result many = result();
      ASSERT_EQ(many.services, one.services) << threads << " threads, run " << repeat;
      ASSERT_EQ(many.records, one.records) << threads << " threads, run " << repeat;
      EXPECT_EQ(many.counters, one.counters);
      EXPECT_EQ(many.per_file, one.per_file);
    }
  }
}

// What fails the run before or as the threads work: a thread that cannot
// be started (before any starts) or joined (the last, none left running); an
// error log path that does not fit for the threads the run will have (the
// most -n may ask); the records of all threads, or a thread's first array
// (of MSG_COUNT_PER_FILE records), that cannot be had.
TEST_F(LoaderTest, WhatFailsTheRun) {
  vt_fail_thread_create_after(0);
  EXPECT_EQ(load_to_end(3).text(),
            "-1load_input_data_files:Failed to create Processing Thread[0]\n");
  vt_fail_thread_create_after(-1);
  vt_fail_thread_join_after(2);
  EXPECT_EQ(load_to_end(3).text(), "-1load_input_data_files:Processing Thread[2] Failed\n");
  vt_fail_thread_join_after(-1);

  std::string dir = "/tmp/" + std::string(kErrorLogPathSize - 5 - strlen("/error.log.999"), 'd');
  std::string path = dir + "/error.log.999";
  EXPECT_EQ(
      load_to_end(
          1000,
          [&](RunState &run) { snprintf(run.config.replay_dir, kTextBufSize, "%s", dir.c_str()); })
          .text(),
      "-1load_input_data_files:Replay directory path too long for the error log files: " + path +
          " has " + std::to_string(path.size()) + " characters, at most " +
          std::to_string(kErrorLogPathSize - 1) + " are allowed\n");

  if (!vt_alloc_failures_supported()) GTEST_SKIP() << "the sanitizers keep their own allocator";
  ASSERT_EQ(load_to_end(2).status, 0);
  const uint64_t bytes = run().counters.g_valid_msgcount * sizeof(SeqData);
  vt_fail_alloc_of(bytes);
  EXPECT_EQ(load_to_end(2).text(), "-1load_input_data_files:Out of Memory: seq_data_arr (size = " +
                                       std::to_string(bytes) + ") for index -1\n");
  const uint64_t first = 1000 * sizeof(SeqData);
  vt_fail_alloc_of(first);
  EXPECT_EQ(load_to_end(2, [](RunState &run) { run.config.g_msgcount_per_file = 1000; }).text(),
            "-1load_input_data_files:Out of Memory: threadArgs[i].t_seq_data_arr (size = " +
                std::to_string(first) + ") for index -1\n");
  vt_fail_alloc_of(0);
}

// At -d 4 a run that spills lists every valid record's service id as one
// that does not, through a file of its own that it closes again.
TEST_F(LoaderTest, ASpillingRunListsItsServiceIdsAtLevel4AndClosesTheirFile) {
  std::string listed[2];
  for (int spill : {0, 1}) {
    auto level4 = [&](RunState &run) {
      run.spill.budget = spill ? 4096 : UINT64_MAX, run.log.debug_level = 4;
    };
    ASSERT_EQ(load_to_end(0, level4).status, 0);
    ASSERT_EQ(run().spill.spilling, spill == 1);
    for (size_t at = 0; (at = console_.find("].service_id = ", at)) != std::string::npos; at++)
      listed[spill] += console_.substr(at, console_.find('\n', at) - at) + ",";
  }
  EXPECT_EQ(listed[1], listed[0]);
  EXPECT_NE(listed[0], "");
  for (const auto &fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    EXPECT_EQ(std::filesystem::read_symlink(fd.path(), ec).string().find("/service_ids"),
              std::string::npos);
  }
  spill_dir_abandon(run());
}

// More threads than files: each thread's error log has its header and the
// lines of its rejected records. One that cannot be written whole (the file
// size limit; a full disk alike) fails the run from the thread that wrote it.
TEST_F(LoaderTest, AccountingAndErrorLogs) {
  ASSERT_EQ(load_to_end(8).status, 0);
  Result r = result();
  const uint64_t met = r.counters[0], valid = r.counters[1], ignored = r.counters[2];
  EXPECT_EQ(met, valid + ignored);
  EXPECT_EQ(std::accumulate(r.per_file.begin(), r.per_file.end(), uint64_t{0}), met);
  uint64_t error_lines = 0;
  int header_only = 0;
  for (int t = 0; t < 8; t++) {
    std::vector<std::string> lines = file_lines(dir_ + "/error.log." + std::to_string(t));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "#|Error-Code|Error-Message|Request-File|Line-Number");
    error_lines += lines.size() - 1;
    header_only += lines.size() == 1;
  }
  EXPECT_EQ(error_lines, ignored);
  EXPECT_GE(header_only, 3);  // two idle threads and the one that read the empty file

  std::string untimed;
  for (int i = 0; i < 100; i++) untimed += "xml1=000000001<B/>&xmlEnd=00\n*******\n";
  files_ = {write_text(dir_ + "/untimed.log", untimed)};
  for (int t = 0; t < 8; t++) unlink((dir_ + "/error.log." + std::to_string(t)).c_str());
  Outcome o = load_to_end(1, nullptr, 2000);
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err.rfind("load_input_data_files_t:Error in writing error log file " + dir_ +
                            "/error.log.0: File too large",
                        0),
            0u)
      << o.err;
}

}  // namespace

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
#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/spill_dir.h"
#include "tools/replay_gen/test_support.h"

namespace {

using namespace loader_test;

// Loader threads from processor and file counts: at most what -n may ask (1024), never wrapped.
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

// Record i of file f names one of 4 + f services: each file brings new ones. Padding slows threads.
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

  // Loads files_ in a fresh run (changed by then) with n threads, files limited to limit bytes.
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

  // Records (file, offset, size, time, uid, seq, service), services, counters and file counts.
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

// Fails the run: a thread not started or joined, the records or a thread's first array not had.
TEST_F(LoaderTest, WhatFailsTheRun) {
  vt_fail_thread_create_after(0);
  EXPECT_EQ(load_to_end(3).text(),
            "-1load_input_data_files:Failed to create Processing Thread[0]\n");
  vt_fail_thread_create_after(-1);
  vt_fail_thread_join_after(2);
  EXPECT_EQ(load_to_end(3).text(), "-1load_input_data_files:Processing Thread[2] Failed\n");
  vt_fail_thread_join_after(-1);

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

// At -d 4 a spilling run lists the service ids through a file of its own that it closes again.
TEST_F(LoaderTest, ASpillingRunClosesItsServiceIdFile) {
  ASSERT_EQ(load_to_end(0, [](RunState &run) { run.spill.budget = 4096, run.log.debug_level = 4; })
                .status,
            0);
  ASSERT_TRUE(run().spill.spilling);
  EXPECT_NE(console_.find("].service_id = "), std::string::npos);
  for (const auto &fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    EXPECT_EQ(std::filesystem::read_symlink(fd.path(), ec).string().find("/service_ids"),
              std::string::npos);
  }
  spill_dir_abandon(run());
}

// Any threads: records and services in one thread's order; each error log with its header and
// rejected records; one that cannot be written whole fails the run from its thread.
TEST_F(LoaderTest, AnyThreadCountGivesTheOneThreadResult) {
  ASSERT_EQ(load_to_end(1).status, 0);
  const Result one = result();
  ASSERT_GT(one.services.size(), 8u);
  auto remove_error_logs = [&] {
    for (int t = 0; t < 8; t++) unlink((dir_ + "/error.log." + std::to_string(t)).c_str());
  };
  for (int16_t threads : {3, 2, 8}) {
    remove_error_logs();
    ASSERT_EQ(load_to_end(threads).status, 0);
    Result r = result();
    EXPECT_EQ(std::tie(r.services, r.records, r.counters, r.per_file),
              std::tie(one.services, one.records, one.counters, one.per_file))
        << threads;
  }
  EXPECT_EQ(one.counters[0], one.counters[1] + one.counters[2]);  // met: valid and ignored
  EXPECT_EQ(std::accumulate(one.per_file.begin(), one.per_file.end(), uint64_t{0}),
            one.counters[0]);
  uint64_t error_lines = 0;
  int header_only = 0;
  for (int t = 0; t < 8; t++) {
    std::vector<std::string> lines = file_lines(dir_ + "/error.log." + std::to_string(t));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "#|Error-Code|Error-Message|Request-File|Line-Number");
    error_lines += lines.size() - 1;
    header_only += lines.size() == 1;
  }
  EXPECT_EQ(error_lines, one.counters[2]);
  EXPECT_GE(header_only, 3);  // two idle threads and the one that read the empty file

  std::string untimed;
  for (int i = 0; i < 100; i++) untimed += "xml1=000000001<B/>&xmlEnd=00\n*******\n";
  files_ = {write_text(dir_ + "/untimed.log", untimed)};
  remove_error_logs();
  const std::string err = load_to_end(1, nullptr, 2000).text();
  const std::string want = "-1load_input_data_files_t:Error in writing error log file " + dir_;
  EXPECT_EQ(err.rfind(want + "/error.log.0: File too large", 0), 0u) << err;
}

}  // namespace

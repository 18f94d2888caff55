#include "tools/replay_gen/output/request_writer.h"

#include <fcntl.h>

#include "tests/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"

namespace {

constexpr uint64_t kT = 1796400309000;  // an absolute time in ms

class RequestWriter : public PackageTest {
 protected:
  // The worker of every entry, as Step 4 dealt them: through each session's
  // user slot.
  std::vector<uint8_t> entry_workers() {
    std::vector<uint8_t> workers;
    for (uint64_t i = 0; i < g_valid_msgcount; i++)
      workers.push_back(seq_data_arr[seq_data_arr[i].parent_seq].user_node->vvm_id);
    return workers;
  }

  // Empties the request files and writes them again from the plan of the
  // last run_steps; returns the files' contents.
  std::vector<std::string> rewrite(int threads, bool use_pipe) {
    for (int w = 0; w < num_vvm; w++) {
      EXPECT_EQ(ftruncate(vvm_list[w].vt_req_file_fd, 0), 0);
      lseek(vvm_list[w].vt_req_file_fd, 0, SEEK_SET);
    }
    std::vector<uint8_t> workers = entry_workers();
    write_request_files(workers.data(), workers.size(), threads, use_pipe);
    return files();
  }

  std::vector<std::string> files() {
    std::vector<std::string> out;
    for (int w = 0; w < num_vvm; w++) out.push_back(file("vt_req_" + std::to_string(w)));
    return out;
  }
};

TEST(RequestWriterThreads, OnePerProcessorAtMostOnePerWorker) {
  struct Case {
    int cpus, workers, threads;
  } cases[] = {{2, 4, 2}, {8, 4, 4}, {1, 256, 1}, {0, 4, 1}, {-1, 4, 1}, {16, 1, 1}};
  for (const Case &c : cases)
    EXPECT_EQ(request_writer_threads(c.cpus, c.workers), c.threads) << c.cpus << " " << c.workers;
}

// Heads larger than a thread's arena and bodies larger than its pipe make
// the pipe fill and drain mid-entry; the files come out the same with any
// number of threads, staged or written directly.
TEST_F(RequestWriter, SameBytesWithAnyThreadsStagedOrDirect) {
  set_services(2);
  set_top_line(std::string(300 * 1024, 't').append("\n").c_str());
  num_vvm = 3;
  std::vector<TestRecord> recs;
  for (int i = 0; i < 40; i++) {
    size_t size = i % 7 == 0 ? 700 * 1024 + i : 50 + i * 13;
    recs.push_back({i % 9, kT + static_cast<uint64_t>(i % 11) * 1000, static_cast<int16_t>(i % 2),
                    std::string(size, static_cast<char>('a' + i % 26))});
  }
  load(recs);
  run_steps();
  std::vector<std::string> first = files();
  for (int threads : {1, 2, 3, 5}) {
    for (bool use_pipe : {false, true}) {
      EXPECT_EQ(rewrite(threads, use_pipe), first) << threads << " threads, pipe " << use_pipe;
    }
  }
  PackageSummary summary;
  write_vortan_index_file();
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  EXPECT_EQ(summary.requests, 40u);
}

// A failing entry ends the run with its message and status; the worker's
// file keeps every whole entry before it, the last newline included.
TEST_F(RequestWriter, FailureKeepsWholeEntriesBeforeIt) {
  for (bool use_pipe : {false, true}) {
    SCOPED_TRACE(use_pipe ? "staged" : "direct");
    set_services(1);
    load({{4, kT, 0, "first"}, {4, kT + 1, 0, "second"}, {5, kT + 2, 0, "other"}});
    run_steps();
    std::vector<std::string> whole = files();
    seq_data_arr[1].req_file_fp = nullptr;  // time order: the user's second entry
    testing::internal::CaptureStderr();
    int status = 0;
    try {
      rewrite(2, use_pipe);
    } catch (const VtExit &e) {
      status = e.status;
    }
    EXPECT_EQ(status, -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "add_request_new:error in fileno(). seq_file_fp (nil) Bad file descriptor\n");
    std::string first_entry = svc_head(0) + "Content-Length: 5\r\n\r\nfirst\n";
    EXPECT_EQ(file("vt_req_0"), first_entry);
    EXPECT_EQ(file("vt_req_1"), whole[1]);
    TearDown();
    SetUp();
  }
}

}  // namespace

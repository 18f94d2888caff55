#include "tools/replay_gen/output/request_writer.h"

#include "tools/package/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"
#include "tools/replay_gen/run_state.h"

namespace {

class RequestWriter : public PackageTest {
 protected:
  // Empties the request files and writes them again from the plan of the
  // last run_steps (each entry's worker through its session's user slot).
  std::vector<std::string> rewrite(int threads, bool use_pipe) {
    std::vector<uint8_t> workers;
    for (uint64_t i = 0; i < run.counters.g_valid_msgcount; i++)
      workers.push_back(
          run.records.seq_data_arr[run.records.seq_data_arr[i].parent_seq].user_node->vvm_id);
    for (int w = 0; w < run.workers.num_vvm; w++) {
      EXPECT_EQ(ftruncate(run.workers.vvm_list[w].vt_req_file_fd, 0), 0);
      lseek(run.workers.vvm_list[w].vt_req_file_fd, 0, SEEK_SET);
    }
    write_request_files(workers.data(), workers.size(), threads, use_pipe);
    return files();
  }
  std::vector<std::string> files() {
    std::vector<std::string> out;
    for (int w = 0; w < run.workers.num_vvm; w++)
      out.push_back(file("vt_req_" + std::to_string(w)));
    return out;
  }
};

// Heads larger than a thread's arena and bodies larger than its pipe make
// the pipe fill and drain mid-entry; the files come out the same with any
// number of threads, staged or written directly.
TEST_F(RequestWriter, SameBytesWithAnyThreadsStagedOrDirect) {
  set_services(2);
  set_top_line(std::string(300 * 1024, 't') + "\n");
  run.workers.num_vvm = 3;
  std::vector<TestRecord> recs;
  for (int i = 0; i < 40; i++) {
    size_t size = i % 7 == 0 ? 700 * 1024 + i : 50 + i * 13;
    recs.push_back({i % 9, kT + static_cast<uint64_t>(i % 11) * 1000, static_cast<int16_t>(i % 2),
                    std::string(size, static_cast<char>('a' + i % 26))});
  }
  load(recs);
  run_steps();
  std::vector<std::string> first = files();
  for (int threads : {1, 2, 3, 5})
    for (bool use_pipe : {false, true})
      EXPECT_EQ(rewrite(threads, use_pipe), first) << threads << " threads, pipe " << use_pipe;
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
    run.records.seq_data_arr[1].req_file_fp = nullptr;  // time order: the user's second entry
    Outcome o = run_to_end([&] { rewrite(2, use_pipe); });
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.err, "add_request_new:error in fileno(). seq_file_fp (nil) Bad file descriptor\n");
    EXPECT_EQ(file("vt_req_0"), entry(0, "first"));
    EXPECT_EQ(file("vt_req_1"), whole[1]);
    reset();
  }
}

}  // namespace

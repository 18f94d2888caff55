#include <functional>
#include <tuple>

#include "tools/package/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"
#include "tools/replay_gen/run_state.h"

namespace {

using RequestFiles = PackageTest;

// (A whole package through Step 3, the time sort, Step 4 and the index
// writer, under both orderings: the end-to-end cases run_sample_tree and
// run_sessions_param_one_sort, byte for byte.)

// 70000 requests of one user stay with that user, in one index line.
TEST_F(RequestFiles, UserWithMoreThan65535Requests) {
  set_services(1);
  load(std::vector<TestRecord>(70000, {77, kT, 0, "r"}));
  run_steps();
  ASSERT_NE(run.users.head, nullptr);
  EXPECT_EQ(run.users.head->next, nullptr);
  EXPECT_EQ(run.users.head->num_req, 70000u);
  EXPECT_EQ(run.counters.max_req_per_user, 70000);
  EXPECT_EQ(run.users.head->req_node[69999].offset, 69999 * 61);
  EXPECT_TRUE(write_vortan_index_file(run, &err));
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  EXPECT_EQ(std::make_tuple(summary.users, summary.requests), std::make_tuple(1u, 70000u));
}

// The worker count is taken from 1 to 256; any other fails the run naming it.
TEST_F(RequestFiles, WorkerCountBounds) {
  for (int workers : {0, 1, 256, 257, -1}) {
    run.workers.num_vvm = workers;
    int n;
    Outcome o = run_to_end([&](Failure *e) { return checked_num_vvm(run, "f", &n, e); });
    bool taken = workers >= 1 && workers <= 256;
    EXPECT_EQ(o.status, taken ? 0 : -1) << workers;
    EXPECT_EQ(o.err, taken ? ""
                           : "f:Invalid number of workers " + std::to_string(workers) +
                                 ": it must be between 1 and 256\n");
  }
}

// Step 4's failures end the run with their status and a message naming what
// and why: a request file someone else put in the replay directory (left as
// it was), a close that fails (closed behind the run's back here; a network
// file system reports late write errors there), a session key past the last
// request (only a corrupt spill file could hold one), a body that runs past
// the end of the input (2 GiB and more keep all their digits, in the head
// too), and a file that takes no more (the file size limit standing for a
// full disk) with the body buffered or copied by the kernel.
TEST_F(RequestFiles, FailuresEndTheRunNamingWhatAndWhy) {
  const std::string sendfile = "1add_request_new:sendfile error:input file ends before the body ";
  const std::string full =
      "-1add_request_new:write to output file vt_req_0 failed: File too large\n";
  auto body_size = [this](uint64_t size) {  // 5 bytes ("body\n") are left in the file
    return [this, size] {
      run.records.seq_data_arr[0].req_size = size;
      return steps();
    };
  };
  auto full_disk = [this](size_t size) {  // bodies from 64 KiB on are copied by the kernel
    return [this, size] {
      load({{3, kT, 0, std::string(size, 'b')}});
      return run_with_file_size_limit(1000, [&](Failure *e) { return all_steps(e); });
    };
  };
  const struct {
    std::function<Outcome()> fail;
    std::string outcome, vt_req_0;
  } cases[] = {
      {[this] {
         write_text(dir + "/vt_req_0", "theirs");
         return run_to_end([&](Failure *e) { return init_vvm_data(run, e); });
       },
       "-1open: File exists\n", "theirs"},
      {[this] {
         EXPECT_TRUE(init_vvm_data(run, &err));
         int &fd = run.workers.vvm_list[0].vt_req_file_fd;
         EXPECT_EQ(close(fd), 0);
         fd = 999;  // a number no file holds, where the one just freed might be taken again
         Outcome o = run_to_end([&](Failure *e) { return close_vvm_files(run, e); });
         EXPECT_EQ(fd, -1);
         return o;
       },
       "-1close_vvm_files:Error in writing request file <DIR>/vt_req_0: Bad file descriptor\n", ""},
      {[this] {
         load({{3, kT, 0, "a"}, {4, kT + 1, 0, "b"}});
         testing::internal::CaptureStdout();
         EXPECT_TRUE(init_vvm_data(run, &err) && sort_seq_array(run, 2, &err));
         sort_seq_data_by_time(run, 2);
         testing::internal::GetCapturedStdout();
         run.records.seq_data_arr[1].parent_seq = 2;
         return run_to_end([&](Failure *e) { return plan_request_entries(run, nullptr, e); });
       },
       "-1process_sequence_data_new:Session key 2 of request 1 is not below 2\n", ""},
      {body_size(10), sendfile + "does ret 5 request_size 10 offset(in) 26 offset(out) 31\n",
       svc_head(0) + "Content-Length: 10\r\n\r\nbody\n"},
      {body_size(3000000000),
       sendfile + "does ret 5 request_size 3000000000 offset(in) 26 offset(out) 31\n",
       svc_head(0) + "Content-Length: 3000000000\r\n\r\nbody\n"},
      {full_disk(5000), full, ""},
      {full_disk(100000), full, ""},
  };
  for (const auto &c : cases) {
    set_services(1);
    load({{3, kT, 0, "body"}});
    std::string got = c.fail().text();
    if (size_t at = got.find(dir); at != std::string::npos) got.replace(at, dir.size(), "<DIR>");
    EXPECT_EQ(got, c.outcome);
    EXPECT_EQ(c.vt_req_0.empty() ? "" : file("vt_req_0"), c.vt_req_0) << c.outcome;
    reset();
  }
}

}  // namespace

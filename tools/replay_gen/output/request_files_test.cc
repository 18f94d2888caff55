#include <fcntl.h>

#include <tuple>

#include "tools/package/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"
#include "tools/replay_gen/output/request_writer.h"
#include "tools/replay_gen/run_state.h"

namespace {

using RequestFiles = PackageTest;

// Sessions cut at the window, uid 0 singletons and two workers, through
// Step 3, the time sort, Step 4 and the index writer, with the same files
// under both orderings; an independent reader then finds every entry where
// the index says. Entry sizes: head 38, length line 21, body, newline.
TEST_F(RequestFiles, WholePackage) {
  for (int one_sort : {0, 1}) {
    SCOPED_TRACE(one_sort ? "-N ordering" : "default ordering");
    set_services(2);
    load({{7, kT + 40 * kMin, 0, "CCC"},
          {8, kT + 5000, 1, "hello"},
          {7, kT, 0, "AAAAA"},
          {8, kT + 31 * kMin, 0, "x"},
          {0, kT + 1000, 0, "Z"},
          {7, kT + 20 * kMin, 1, "BB"},
          {0, kT + 1000, 0, "Z"}});
    run.options.one_sort_algo = one_sort;
    run_steps();
    EXPECT_EQ(file("vt_req_0"), entry(0, "AAAAA") + entry(0, "Z") + entry(1, "BB") + entry(0, "x"));
    EXPECT_EQ(file("vt_req_1"), entry(0, "Z") + entry(1, "hello") + entry(0, "CCC"));
    EXPECT_EQ(run.workers.vvm_list[0].offset, 65 + 61 + 62 + 61);
    EXPECT_EQ(run.workers.vvm_list[1].offset, 61 + 65 + 63);
    EXPECT_EQ(run.workers.vvm_list[0].num_users + run.workers.vvm_list[1].num_users, 6);
    EXPECT_EQ(run.counters.total_requests, 7);
    EXPECT_EQ(run.counters.max_req_per_user, 2);
    EXPECT_TRUE(write_vortan_index_file(run, &err));
    EXPECT_EQ(run.users.head, nullptr);
    EXPECT_EQ(file("vt_index_0"), kHeader +
                                      "000000007,vt_req_0,0,0,0,65,1200000,1,126,62\n"
                                      "000000000,vt_req_0,1000,0,65,61\n"
                                      "000000008,vt_req_0,1860000,0,188,61\n");
    EXPECT_EQ(file("vt_index_1"), kHeader +
                                      "000000000,vt_req_1,1000,0,0,61\n"
                                      "000000008,vt_req_1,5000,1,61,65\n"
                                      "000000007,vt_req_1,2400000,0,126,63\n");
    PackageSummary summary;
    EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
    EXPECT_EQ(std::make_tuple(summary.workers, summary.users, summary.requests),
              std::make_tuple(2, uint64_t{6}, uint64_t{7}));
    reset();
  }
}

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

// A request file already in the replay directory was put there by someone
// else: the run ends with the system's reason and leaves it as it was.
TEST_F(RequestFiles, AFileInTheWayEndsTheRunUntouched) {
  set_services(1);
  load({{3, kT, 0, "body"}});
  std::string path = std::string(run.config.replay_dir) + "/vt_req_0";
  write_text(path, "theirs");
  Outcome o = run_to_end([&](Failure *e) { return init_vvm_data(run, e); });
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "open: File exists\n");
  EXPECT_EQ(file("vt_req_0"), "theirs");
}

// A request file whose close fails (closed behind the run's back here; a
// network file system reports late write errors there) ends the run
// naming it.
TEST_F(RequestFiles, CloseFailureEndsTheRunNamingTheFile) {
  set_services(1);
  load({{3, kT, 0, "body"}});
  ASSERT_TRUE(init_vvm_data(run, &err));
  int &fd = run.workers.vvm_list[0].vt_req_file_fd;
  ASSERT_EQ(close(fd), 0);
  fd = 999;  // a number no file holds, where the one just freed might be taken again
  ASSERT_EQ(fcntl(fd, F_GETFD), -1);
  Outcome o = run_to_end([&](Failure *e) { return close_vvm_files(run, e); });
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "close_vvm_files:Error in writing request file " +
                       std::string(run.config.replay_dir) + "/vt_req_0: Bad file descriptor\n");
  EXPECT_EQ(run.workers.vvm_list[0].vt_req_file_fd, -1);
}

// A session key past the last request (only a corrupt spill file could
// hold one) ends the run.
TEST_F(RequestFiles, SessionKeyPastTheRequestsEndsTheRun) {
  set_services(1);
  load({{3, kT, 0, "a"}, {4, kT + 1, 0, "b"}});
  testing::internal::CaptureStdout();
  ASSERT_TRUE(init_vvm_data(run, &err));
  ASSERT_TRUE(sort_seq_array(run, 2, &err));
  sort_seq_data_by_time(run, 2);
  testing::internal::GetCapturedStdout();
  run.records.seq_data_arr[1].parent_seq = 2;
  Outcome o = run_to_end([&](Failure *e) { return plan_request_entries(run, nullptr, e); });
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "process_sequence_data_new:Session key 2 of request 1 is not below 2\n");
}

// A body that runs past the end of the input file; sizes of 2 GiB and more
// keep all their digits in the head and in the message.
TEST_F(RequestFiles, BodyCopyFailureEndsWithStatusOne) {
  for (uint64_t size : {uint64_t{10}, uint64_t{3000000000}}) {
    set_services(1);
    load({{3, kT, 0, "body"}});
    ASSERT_TRUE(init_vvm_data(run, &err));
    run.records.seq_data_arr[0].req_size = size;  // 5 bytes ("body\n") are left in the file
    off_t at = run.records.seq_data_arr[0].req_offset;
    testing::internal::CaptureStdout();
    Outcome o = run_to_end([&](Failure *e) { return process_sequence_data_new(run, e); });
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "add_request_new:sendfile error:input file ends before the body does ret 5 "
              "request_size " +
                  std::to_string(size) + " offset(in) " + std::to_string(at) + " offset(out) " +
                  std::to_string(at + 5) + "\n");
    EXPECT_EQ(file("vt_req_0"),
              svc_head(0) + "Content-Length: " + std::to_string(size) + "\r\n\r\nbody\n");
    reset();
  }
}

// A request file that takes no more (the file size limit here, a full disk
// alike) ends the run with status 255 and the system's reason, whether the
// body goes through the buffer or is copied by the kernel.
TEST_F(RequestFiles, WriteFailureEndsWithStatus255) {
  for (uint64_t kernel_copy_from : {uint64_t{0}, UINT64_MAX}) {
    SCOPED_TRACE(kernel_copy_from);
    set_services(1);
    load({{3, kT, 0, std::string(5000, 'b')}});
    run_steps();
    ASSERT_EQ(ftruncate(run.workers.vvm_list[0].vt_req_file_fd, 0), 0);
    lseek(run.workers.vvm_list[0].vt_req_file_fd, 0, SEEK_SET);
    uint8_t worker = 0;
    WriterSettings settings = {1 << 20, kernel_copy_from};
    Outcome o = run_with_file_size_limit(
        1000, [&](Failure *e) { return write_request_files(run, &worker, 1, 1, settings, e); });
    EXPECT_EQ(o.status, -1);
    EXPECT_EQ(o.err, "add_request_new:write to output file vt_req_0 failed: File too large\n");
    reset();
  }
}

}  // namespace

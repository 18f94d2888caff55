#include <tuple>

#include "tests/package_check.h"
#include "tools/replay_gen/output/gen_input_file.h"
#include "tools/replay_gen/output/package_test_fixture.h"

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
    one_sort_algo = one_sort;
    run_steps();
    EXPECT_EQ(file("vt_req_0"), entry(0, "AAAAA") + entry(0, "Z") + entry(1, "BB") + entry(0, "x"));
    EXPECT_EQ(file("vt_req_1"), entry(0, "Z") + entry(1, "hello") + entry(0, "CCC"));
    EXPECT_EQ(vvm_list[0].offset, 65 + 61 + 62 + 61);
    EXPECT_EQ(vvm_list[1].offset, 61 + 65 + 63);
    EXPECT_EQ(vvm_list[0].num_users + vvm_list[1].num_users, 6);
    EXPECT_EQ(total_requests, 7);
    EXPECT_EQ(max_req_per_user, 2);
    write_vortan_index_file();
    EXPECT_EQ(head, nullptr);
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

// The top line goes before each body and into its length; a creation
// timestamp's offset is taken from the start of the entry.
TEST_F(RequestFiles, TopLineAndCreationTimestamp) {
  set_services(1);
  set_top_line("TOPLINE-10\n");
  std::string body = std::string(40, 'b') + "2026-12-04T16" + "tail";
  load({{5, kT, 0, "12345"}, {5, kT + 1, 0, body, 40, 13}});
  run_steps();
  const std::string first = svc_head(0) + "Content-Length: 16\r\n\r\nTOPLINE-10\n12345\n";
  const std::string head2 = svc_head(0) + "Content-Length: 68\r\n\r\nTOPLINE-10\n";
  EXPECT_EQ(file("vt_req_0"), first + head2 + body + "\n");
  const ReqNode &a = head->req_node[0], &b = head->req_node[1];
  EXPECT_EQ(a.size, first.size());
  EXPECT_EQ(a.type, 0);
  EXPECT_EQ(b.offset, static_cast<off_t>(first.size()));
  EXPECT_EQ(b.type, '1');
  EXPECT_EQ(b.creation_ts_offset, head2.size() + 40);
  EXPECT_EQ(b.creation_ts_size, 13);
}

// Users go to workers in turn by creation, whatever their request counts;
// progress lines come every interval, then the closing counts.
TEST_F(RequestFiles, UsersDealtInTurnWithProgress) {
  set_services(1);
  num_vvm = 3;
  load({{1, kT, 0, "a"},
        {1, kT + 1, 0, "a"},
        {1, kT + 2, 0, "a"},
        {2, kT + 3, 0, "b"},
        {3, kT + 4, 0, "c"},
        {4, kT + 5, 0, "d"},
        {5, kT + 6, 0, "e"}});
  g_msgcount = 9;
  g_ignore_request = 2;
  commentry_req_count = 3;
  std::string out = run_steps();
  std::vector<std::pair<uint64_t, int>> users;
  for (UserNode *u = head; u; u = u->next) users.push_back({u->user_id, u->vvm_id});
  EXPECT_EQ(users, (std::vector<std::pair<uint64_t, int>>{{1, 0}, {2, 1}, {3, 2}, {4, 0}, {5, 1}}));
  EXPECT_EQ(vvm_list[0].num_users, 2);
  EXPECT_EQ(vvm_list[2].num_users, 1);
  EXPECT_NE(out.find("  Created 3 out of 7 requests\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  Created 6 out of 7 requests\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("  Created 7 out"), std::string::npos) << out;
  const std::string closing =
      "Request count in Control file = 9, Processed requests = 7, Ignored requests = 2\n\n";
  EXPECT_EQ(out.substr(out.size() - closing.size()), closing);
}

// 70000 requests of one user stay with that user, in one index line.
TEST_F(RequestFiles, UserWithMoreThan65535Requests) {
  set_services(1);
  load(std::vector<TestRecord>(70000, {77, kT, 0, "r"}));
  run_steps();
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->next, nullptr);
  EXPECT_EQ(head->num_req, 70000u);
  EXPECT_EQ(max_req_per_user, 70000);
  EXPECT_EQ(head->req_node[69999].offset, 69999 * 61);
  write_vortan_index_file();
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  EXPECT_EQ(summary.users, 1u);
  EXPECT_EQ(summary.requests, 70000u);
}

// A body that runs past the end of the input file; sizes of 2 GiB and more
// keep all their digits in the head and in the message.
TEST_F(RequestFiles, BodyCopyFailureEndsWithStatusOne) {
  for (uint64_t size : {uint64_t{10}, uint64_t{3000000000}}) {
    set_services(1);
    load({{3, kT, 0, "body"}});
    init_vvm_data();
    seq_data_arr[0].req_size = size;  // 5 bytes ("body\n") are left in the file
    off_t at = seq_data_arr[0].req_offset;
    testing::internal::CaptureStdout();
    Outcome o = run_to_end([] { process_sequence_data_new(); });
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

// Request files are truncated on start; the generator's input file is made
// empty under /tmp with the pid; a worker count out of 1..256 ends the run.
TEST_F(RequestFiles, InitFilesAndWorkerCount) {
  write_text(dir + "/vt_req_1", "old content");
  init_vvm_data();
  EXPECT_EQ(file("vt_req_1"), "");
  create_file_for_vtu_gen_script();
  ASSERT_NE(vtu_gen_script_fp, nullptr);
  fclose(vtu_gen_script_fp), vtu_gen_script_fp = nullptr;
  std::string gen_input = "/tmp/filename_" + std::to_string(getpid());
  EXPECT_EQ(vtu_gen_script_file_name, gen_input);
  EXPECT_EQ(read_text(gen_input), "");
  EXPECT_EQ(unlink(gen_input.c_str()), 0);
  for (int16_t bad : {0, 257}) {
    num_vvm = bad;
    EXPECT_EQ(run_to_end([] { get_vvm_id(); }).err, "get_vvm_id:Invalid number of workers " +
                                                        std::to_string(bad) +
                                                        ": it must be between 1 and 256\n");
  }
}

}  // namespace

#include "tools/package/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"
#include "tools/replay_gen/run_state.h"

namespace {

using IndexFiles = PackageTest;

// Creation timestamps with -p only, though the parser finds them either
// way; a worker with no user keeps the header line.
TEST_F(IndexFiles, TimestampGroupsWithPAndIdleWorker) {
  for (int p : {1, 0}) {
    set_services(1);
    run.workers.num_vvm = 3;
    run.options.do_parameterization = p;
    std::string body = std::string(40, 'b') + "2026-12-04T16" + "tail";
    load({{5, kT, 0, "12345"}, {5, kT + 1, 0, body, 40, 13}, {6, kT + 2, 0, "x"}});
    run_steps();
    ASSERT_TRUE(write_vortan_index_file(run, &err));
    // Head 38 + "Content-Length: 57\r\n\r\n" (22): the value is 60 + 40 into the entry.
    EXPECT_EQ(file("vt_index_0"),
              kHeader + "000000005,vt_req_0,0,0,0,65,1,0,65,118" + (p ? "|1:100:13\n" : "\n"));
    EXPECT_EQ(file("vt_index_1"), kHeader + "000000006,vt_req_1,2,0,0,61\n");
    EXPECT_EQ(file("vt_index_2"), kHeader);
    PackageSummary summary;
    EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
    reset();
  }
}

// No user fails the run, spilled or not, and the index files keep their
// header lines. (Whatever someone put under an index file's name is refused:
// the end-to-end case safety_planted_index_link.)
TEST_F(IndexFiles, NoUserFailsTheRun) {
  for (bool spilling : {false, true}) {
    run.spill.spilling = spilling;
    EXPECT_EQ(run_to_end([&](Failure *e) { return write_vortan_index_file(run, e); }).text(),
              "-1write_vortan_index_file:No user found in the list\n\n");
    EXPECT_EQ(file("vt_index_0") + file("vt_index_1"), kHeader + kHeader);
    reset();
  }
}

// A creation timestamp's place in its entry must fit the index's 32 bits.
TEST_F(IndexFiles, CreationTimestampPlaceFitsIn32Bits) {
  // Head 38 + "Content-Length: 5\r\n\r\n" (21): the place is the offset + 59.
  const struct {
    uint32_t offset;
    std::string outcome;
  } cases[] = {
      {UINT32_MAX - 59, "0"},
      {UINT32_MAX - 58,
       "-1add_request_new:Creation timestamp offset 4294967296 in the entry is above 4294967295\n"},
  };
  for (const auto &c : cases) {
    set_services(1);
    run.options.do_parameterization = 1;
    load({{5, kT, 0, "12345", c.offset, 13}});
    EXPECT_EQ(steps().text(), c.outcome) << c.offset;
    if (c.outcome == "0") {
      ASSERT_TRUE(write_vortan_index_file(run, &err));
      EXPECT_EQ(file("vt_index_0"), kHeader + "000000005,vt_req_0,0,0,0,65|1:4294967295:13\n");
    }
    reset();
  }
}

// A write the system refuses (here the file size limit; a full disk alike)
// ends the run naming the file, instead of leaving a line cut short.
TEST_F(IndexFiles, WriteFailureFailsTheRun) {
  set_services(1);
  load({{5, kT, 0, "12345"}, {6, kT + 1, 0, "x"}});
  run_steps();
  Outcome o =
      run_with_file_size_limit(120, [&](Failure *e) { return write_vortan_index_file(run, e); });
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "write_vortan_index_file:Error in writing in file " + dir +
                       "/vt_index_0. Error File too large\n");
}

}  // namespace

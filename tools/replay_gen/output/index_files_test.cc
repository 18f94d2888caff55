#include <sys/stat.h>

#include "tests/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"

namespace {

using IndexFiles = PackageTest;

// Fields in the order page id, time, offset, size, creation timestamp.
TEST(IndexLine, Format) {
  ReqNode reqs[] = {{0, 0, 310, 2, 0, 0, 0}, {1500, 310, 298, 0, 120, 13, '1'}};
  struct Case {
    uint64_t user_id;
    int vvm_id, param;
    const char *line;
  } cases[] = {
      {42, 3, 0, "000000042,vt_req_3,0,2,0,310,1500,0,310,298\n"},
      {42, 3, 1, "000000042,vt_req_3,0,2,0,310,1500,0,310,298|1:120:13\n"},
      {1234567890, 255, 0, "1234567890,vt_req_255,0,2,0,310,1500,0,310,298\n"},
  };
  for (const Case &c : cases) {
    UserNode user{static_cast<unsigned char>(c.vvm_id), c.user_id, 2, 2, nullptr, reqs};
    do_parameterization = c.param;
    std::string line;
    format_user_line(user, &line);
    EXPECT_EQ(line, c.line);
  }
  do_parameterization = 0;
}

// A worker with no user keeps the header line; the checker accepts the
// package and finds a wrong size or a short request file.
TEST_F(IndexFiles, ParameterizedIdleWorkerAndDamage) {
  set_services(1);
  num_vvm = 3;
  do_parameterization = 1;
  std::string body = std::string(40, 'b') + "2026-12-04T16" + "tail";
  load({{5, kT, 0, "12345"}, {5, kT + 1, 0, body, 40, 13}, {6, kT + 2, 0, "x"}});
  run_steps();
  write_vortan_index_file();
  // Head 38 + "Content-Length: 57\r\n\r\n" (22): the value is 60 + 40 into the entry.
  EXPECT_EQ(file("vt_index_0"), kHeader + "000000005,vt_req_0,0,0,0,65,1,0,65,118|1:100:13\n");
  EXPECT_EQ(file("vt_index_1"), kHeader + "000000006,vt_req_1,2,0,0,61\n");
  EXPECT_EQ(file("vt_index_2"), kHeader);
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  write_text(dir + "/vt_index_1", kHeader + "000000006,vt_req_1,2,0,0,60\n");
  EXPECT_FALSE(check_replay_package(dir, &summary).empty());
  write_text(dir + "/vt_index_1", kHeader + "000000006,vt_req_1,2,0,0,61\n");
  EXPECT_EQ(truncate((dir + "/vt_req_1").c_str(), 40), 0);
  EXPECT_FALSE(check_replay_package(dir, &summary).empty());
}

TEST_F(IndexFiles, FatalCases) {
  // No user: the index files keep their header lines.
  EXPECT_EQ(run_to_end(write_vortan_index_file).err,
            "write_vortan_index_file:No user found in the list\n\n");
  EXPECT_EQ(file("vt_index_0"), kHeader);
  EXPECT_EQ(file("vt_index_1"), kHeader);
  // An index file that cannot be opened.
  std::filesystem::create_directories(dir + "/sub/vt_index_1");
  snprintf(replay_dir, kTextBufSize, "%s/sub", dir.c_str());
  Outcome o = run_to_end(write_vortan_index_file);
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "open_file:Unable to open file " + dir + "/sub/vt_index_1\n");
}

}  // namespace

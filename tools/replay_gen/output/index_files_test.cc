#include <sys/stat.h>

#include "tests/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"

namespace {

constexpr uint64_t kT = 1796400309000;
const std::string kHeader =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";

using IndexFiles = PackageTest;

TEST(IndexLine, Format) {
  // Fields in the order page id, time, offset, size, creation timestamp.
  auto req = [](int32_t page_id, uint64_t time, off_t offset, uint64_t size, char type,
                uint32_t ts_offset, int16_t ts_size) {
    ReqNode r{};
    r.page_id = page_id;
    r.time_stamp = time;
    r.offset = offset;
    r.size = size;
    r.type = type;
    r.creation_ts_offset = ts_offset;
    r.creation_ts_size = ts_size;
    return r;
  };
  ReqNode reqs[] = {req(2, 0, 0, 310, 0, 0, 0), req(0, 1500, 310, 298, '1', 120, 13)};
  struct Case {
    uint64_t user_id;
    int vvm_id, param;
    std::string line;
  } cases[] = {
      {42, 3, 0, "000000042,vt_req_3,0,2,0,310,1500,0,310,298\n"},
      {42, 3, 1, "000000042,vt_req_3,0,2,0,310,1500,0,310,298|1:120:13\n"},
      {0, 0, 0, "000000000,vt_req_0,0,2,0,310,1500,0,310,298\n"},
      {1234567890, 255, 0, "1234567890,vt_req_255,0,2,0,310,1500,0,310,298\n"},
  };
  for (const Case &c : cases) {
    UserNode user{};
    user.user_id = c.user_id;
    user.vvm_id = static_cast<unsigned char>(c.vvm_id);
    user.num_req = user.max_requests = 2;
    user.req_node = reqs;
    do_parameterization = c.param;
    std::string line;
    format_user_line(user, &line);
    EXPECT_EQ(line, c.line);
  }
  do_parameterization = 0;
}

TEST_F(IndexFiles, ParameterizedGroupsAndIdleWorker) {
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
}

TEST_F(IndexFiles, CheckerFindsDamage) {
  set_services(1);
  load({{5, kT, 0, "12345"}, {6, kT + 1, 0, "abc"}});
  run_steps();
  write_vortan_index_file();
  PackageSummary summary;
  ASSERT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  std::ofstream(dir + "/vt_index_0", std::ios::trunc) << kHeader << "000000005,vt_req_0,0,0,0,64\n";
  EXPECT_FALSE(check_replay_package(dir, &summary).empty());
  std::ofstream(dir + "/vt_index_0", std::ios::trunc) << kHeader << "000000005,vt_req_0,0,0,0,65\n";
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  truncate((dir + "/vt_req_1").c_str(), 40);
  EXPECT_FALSE(check_replay_package(dir, &summary).empty());
}

TEST_F(IndexFiles, FatalCases) {
  // No user: the index files keep their header lines.
  testing::internal::CaptureStderr();
  EXPECT_THROW(write_vortan_index_file(), VtExit);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "write_vortan_index_file:No user found in the list\n\n");
  EXPECT_EQ(file("vt_index_0"), kHeader);
  EXPECT_EQ(file("vt_index_1"), kHeader);
  // An index file that cannot be opened.
  mkdir((dir + "/sub").c_str(), 0755);
  mkdir((dir + "/sub/vt_index_1").c_str(), 0755);
  snprintf(replay_dir, kTextBufSize, "%s/sub", dir.c_str());
  testing::internal::CaptureStderr();
  int status = 0;
  try {
    write_vortan_index_file();
  } catch (const VtExit &e) {
    status = e.status;
  }
  EXPECT_EQ(status, -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "open_file:Unable to open file " + dir + "/sub/vt_index_1\n");
}

}  // namespace

#include "tools/replay_gen/services/service_map.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

class ServiceMapTest : public testing::Test {
 protected:
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
  RunState &run() { return *run_; }
  // Applies a line to the run (fresh: to a fresh run).
  Outcome apply_line(std::string line, bool fresh = false) {
    if (fresh) run_ = std::make_unique<RunState>();
    return run_to_end([&](Failure *e) { return apply_config_line(run(), line.data(), e); });
  }
};

// The entry's fields, each text with its recorded length where it has one.
std::string fields(const ServiceMap &e) {
  auto text = [](const char *t, int32_t len) {
    return std::string(t ? t : "(null)") + (len == (t ? int32_t(strlen(t)) : 0) ? "" : "!len");
  };
  return std::string(e.service_name) + "," + e.method_type + "," + text(e.url, e.url_len) + "," +
         e.indexing_tag + "," + e.sname_prefix + "," +
         text(e.service_header, e.service_header_len) + (e.all_headers ? ",all" : "") +
         (e.num_requests ? ",requests" : "");
}

TEST_F(ServiceMapTest, ConfiguredOrRefusedEntries) {
  for (const auto &c : read_cases(VT_TESTDATA "/service_lines.txt")) {
    Outcome out = apply_line(c[0], true);
    EXPECT_EQ(out.status ? out.err : fields(run().services.service_map_ptr[0]), c[1]) << c[0];
    EXPECT_EQ(run().services.total_services, out.status ? 0 : 1) << c[0];
    EXPECT_EQ(run().services.num_service_file, out.status ? 0 : 1) << c[0];
  }
  // Of a longer line the first 100 fields are used: headers h6 to h99.
  std::string line = "SERVICE_NAME|S|POST|http://h/s|NA|NA";
  for (int i = 6; i < 106; i++) line += "|h" + std::to_string(i);
  ASSERT_EQ(apply_line(line, true).status, 0);
  std::string headers = run().services.service_map_ptr[0].service_header;
  EXPECT_EQ(headers.substr(0, 4) + headers.substr(headers.size() - 5), "h6\r\nh99\r\n");
  EXPECT_EQ(headers.find("h100"), std::string::npos);
}

TEST_F(ServiceMapTest, LookupRenamingAndReport) {
  for (const char *line : {"SERVICE_NAME|A|POST|http://h/1", "SERVICE_NAME|B|PUT|http://h/2\x1b[2J",
                           "SERVICE_NAME|A|POST|http://h/3", "SERVICE_NAME|A|POST|http://h/1",
                           "SERVICE_NAME|A_1|POST|http://h/5"})
    ASSERT_EQ(apply_line(line).status, 0);
  // A repeated name and URL is found at its first index.
  for (auto [url, idx] : {std::pair{"http://h/1", 0}, {"http://h/3", 2}, {"http://h/9", -1}})
    EXPECT_EQ(get_service_idx(run(), "A", url), idx) << url;
  run().services.service_map_ptr[1].num_requests = 1234567;
  Failure err;
  ASSERT_TRUE(rename_service_names(run(), &err));
  testing::internal::CaptureStdout();
  print_service_info(run());
  // The new names are not checked against existing ones (A_1 twice).
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "# Service Name\t\t\t\t\tTotal Requests\tURL\n"
            "0 A                             \t\t0\t\thttp://h/1          \n"
            "1 B                             \t\t1234567\t\thttp://h/2\\x1b[2J   \n"
            "2 A_1                           \t\t0\t\thttp://h/3          \n"
            "3 A_2                           \t\t0\t\thttp://h/1          \n"
            "4 A_1                           \t\t0\t\thttp://h/5          \n");
}

// Equal names keep their index order also among more rows than a sort
// orders by insertion (16).
TEST_F(ServiceMapTest, RenamingKeepsIndexOrderAmongManyRows) {
  for (int i = 0; i < 20; i++) {
    std::string name = i == 0 || i == 9 || i == 19 ? "A" : "S" + std::to_string(100 - i);
    ASSERT_EQ(apply_line("SERVICE_NAME|" + name + "|POST|http://h/" + std::to_string(i)).status, 0);
  }
  Failure err;
  ASSERT_TRUE(rename_service_names(run(), &err));
  const ServiceMap *m = run().services.service_map_ptr;
  EXPECT_EQ(std::string(m[0].service_name) + "," + m[9].service_name + "," + m[19].service_name,
            "A,A_1,A_2");
}

}  // namespace

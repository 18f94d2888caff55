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
  const std::string at = " at line 0 of the configuration is ";
  struct Case {
    std::string line, want;  // the entry's fields, or the refusal
  } cases[] = {
      {"SERVICE_NAME|GetQuote|POST|http://h/q", "GetQuote,POST,http://h/q,XACustId,,(null)"},
      {"SERVICE_NAME|GetQuote|POST|http://h/q|NA|NA|SOAPAction: urn:q",
       "GetQuote,POST,http://h/q,XACustId,,SOAPAction: urn:q\r\n"},
      {"SERVICE_NAME|GetQuote|POST|http://h/q||CustNo", "GetQuote,POST,http://h/q,CustNo,,(null)"},
      {"SERVICE_NAME|S|GET|https://h/s|Id|pre_|A: 1|NA|B: 2",
       "S,GET,https://h/s,Id,pre_,A: 1\r\nB: 2\r\n"},
      {"SERVICE_NAME|GetQuote|POST",
       "set_service:Keyword SERVICE_NAME has 3 fields less then expected 4 fields\n\n"},
      {"SERVICE_NAME|S|LONGMETHOD|http://h/s",
       "set_service:SERVICE_NAME method" + at + "10 characters long; at most 9 are allowed.\n"},
      // The longest method, tag and prefix fit; one character more does not.
      {"SERVICE_NAME|S|METHOD_9_|u|" + std::string(255, 't') + "|" + std::string(255, 'p'),
       "S,METHOD_9_,u," + std::string(255, 't') + "," + std::string(255, 'p') + ",(null)"},
      {"SERVICE_NAME|S|POST|http://h/s|" + std::string(256, 't'),
       "set_service:SERVICE_NAME indexing tag" + at +
           "256 characters long; at most 255 are allowed.\n"},
      {"SERVICE_NAME|S|POST|http://h/s|NA|" + std::string(256, 'p'),
       "set_service:SERVICE_NAME name prefix" + at +
           "256 characters long; at most 255 are allowed.\n"},
  };
  for (const Case &c : cases) {
    Outcome out = apply_line(c.line, true);
    EXPECT_EQ(out.status ? out.err : fields(run().services.service_map_ptr[0]), c.want) << c.line;
    EXPECT_EQ(run().services.total_services, out.status ? 0 : 1) << c.line;
    EXPECT_EQ(run().services.num_service_file, out.status ? 0 : 1) << c.line;
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

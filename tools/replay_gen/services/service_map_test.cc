#include "tools/replay_gen/services/service_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/config_test_reset.h"

namespace {

class ServiceMapTest : public testing::Test {
 protected:
  void SetUp() override { reset_config_state(); }
  void TearDown() override { reset_config_state(); }
};

TEST_F(ServiceMapTest, ConfiguredEntries) {
  struct Case {
    std::string line;
    const char *name, *method, *url, *tag, *prefix, *headers;
  } cases[] = {
      {"SERVICE_NAME|GetQuote|POST|http://h/q", "GetQuote", "POST", "http://h/q", "XACustId", "",
       nullptr},
      {"SERVICE_NAME|GetQuote|POST|http://h/q|NA|NA|SOAPAction: urn:q", "GetQuote", "POST",
       "http://h/q", "XACustId", "", "SOAPAction: urn:q\r\n"},
      {"SERVICE_NAME|GetQuote|POST|http://h/q||CustNo", "GetQuote", "POST", "http://h/q", "CustNo",
       "", nullptr},
      {"SERVICE_NAME|S|GET|https://h/s|Id|pre_|A: 1|NA|B: 2", "S", "GET", "https://h/s", "Id",
       "pre_", "A: 1\r\nB: 2\r\n"},
  };
  for (const Case &c : cases) {
    reset_config_state();
    ASSERT_EQ(apply_line(c.line).status, 0) << c.line;
    ASSERT_EQ(total_services, 1);
    EXPECT_EQ(num_service_file, 1);
    const ServiceMap &e = service_map_ptr[0];
    EXPECT_STREQ(e.service_name, c.name) << c.line;
    EXPECT_STREQ(e.method_type, c.method) << c.line;
    EXPECT_STREQ(e.url, c.url) << c.line;
    EXPECT_EQ(e.url_len, static_cast<int32_t>(strlen(c.url)));
    EXPECT_STREQ(e.indexing_tag, c.tag) << c.line;
    EXPECT_STREQ(e.sname_prefix, c.prefix) << c.line;
    EXPECT_STREQ(e.service_header, c.headers) << c.line;
    EXPECT_EQ(e.service_header_len, c.headers ? static_cast<int32_t>(strlen(c.headers)) : 0);
    EXPECT_EQ(e.all_headers, nullptr);
    EXPECT_EQ(e.num_requests, 0u);
  }
  // Of a longer line the first 100 fields are used: headers h6 to h99.
  reset_config_state();
  std::string line = "SERVICE_NAME|S|POST|http://h/s|NA|NA";
  for (int i = 6; i < 106; i++) line += "|h" + std::to_string(i);
  ASSERT_EQ(apply_line(line).status, 0);
  std::string headers = service_map_ptr[0].service_header;
  EXPECT_EQ(headers.substr(0, 4), "h6\r\n");
  EXPECT_EQ(headers.substr(headers.size() - 5), "h99\r\n");
  EXPECT_EQ(headers.find("h100"), std::string::npos);
}

TEST_F(ServiceMapTest, RefusedLines) {
  struct Case {
    std::string line, err;
  } cases[] = {
      {"SERVICE_NAME|GetQuote|POST",
       "Keyword SERVICE_NAME has 3 fields less then expected 4 fields\n"},
      {"SERVICE_NAME|S|LONGMETHOD|http://h/s",
       "SERVICE_NAME method at line 0 of the configuration is 10 characters long; at most 9 are "
       "allowed."},
      {"SERVICE_NAME|S|POST|http://h/s|NA|" + std::string(256, 'p'),
       "SERVICE_NAME name prefix at line 0 of the configuration is 256 characters long; at most "
       "255 are allowed."},
  };
  for (const Case &c : cases) {
    Outcome out = apply_line(c.line);
    EXPECT_EQ(out.status, -1);
    EXPECT_EQ(out.err, "set_service:" + c.err + "\n");
    EXPECT_EQ(total_services, 0) << c.line;
  }
}

TEST_F(ServiceMapTest, LookupRenamingAndReport) {
  for (const char *line : {"SERVICE_NAME|A|POST|http://h/1", "SERVICE_NAME|B|PUT|http://h/2",
                           "SERVICE_NAME|A|POST|http://h/3", "SERVICE_NAME|A|POST|http://h/1",
                           "SERVICE_NAME|A_1|POST|http://h/5"})
    ASSERT_EQ(apply_line(line).status, 0);
  // A repeated name and URL is found at its first index.
  EXPECT_EQ(get_service_idx("A", "http://h/1"), 0);
  EXPECT_EQ(get_service_idx("A", "http://h/3"), 2);
  EXPECT_EQ(get_service_idx("A", "http://h/9"), -1);
  service_map_ptr[1].num_requests = 1234567;
  rename_service_names();
  testing::internal::CaptureStdout();
  print_service_info();
  // The new names are not checked against existing ones (A_1 twice).
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "# Service Name\t\t\t\t\tTotal Requests\tURL\n"
            "0 A                             \t\t0\t\thttp://h/1          \n"
            "1 B                             \t\t1234567\t\thttp://h/2          \n"
            "2 A_1                           \t\t0\t\thttp://h/3          \n"
            "3 A_2                           \t\t0\t\thttp://h/1          \n"
            "4 A_1                           \t\t0\t\thttp://h/5          \n");
}

}  // namespace

#include "tools/replay_gen/services/service_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/config_test_reset.h"
#include "tools/replay_gen/records.h"

namespace {

class ServiceMapTest : public testing::Test {
 protected:
  void SetUp() override { reset_config_state(); }
  void TearDown() override { reset_config_state(); }

  static Outcome add(const std::string &line) {
    std::string copy = line;
    return run_to_end([&] { apply_config_line(copy.data()); });
  }
};

TEST_F(ServiceMapTest, ConfiguredEntries) {
  struct Case {
    const char *line;
    const char *name, *method, *url, *tag, *prefix, *headers;
  } cases[] = {
      {"SERVICE_NAME|GetQuote|POST|http://127.0.0.1/quote/svc", "GetQuote", "POST",
       "http://127.0.0.1/quote/svc", "XACustId", "", nullptr},
      {"SERVICE_NAME|GetQuote|POST|http://127.0.0.1/quote/svc|NA|NA|SOAPAction: urn:quote",
       "GetQuote", "POST", "http://127.0.0.1/quote/svc", "XACustId", "",
       "SOAPAction: urn:quote\r\n"},
      {"SERVICE_NAME|GetQuote|POST|http://127.0.0.1/quote/svc||CustNo", "GetQuote", "POST",
       "http://127.0.0.1/quote/svc", "CustNo", "", nullptr},
      {"SERVICE_NAME|S|GET|https://h/s|Id|pre_|A: 1|NA|B: 2", "S", "GET", "https://h/s", "Id",
       "pre_", "A: 1\r\nB: 2\r\n"},
  };
  for (const Case &c : cases) {
    reset_config_state();
    Outcome out = add(c.line);
    ASSERT_EQ(out.status, 0) << c.line << out.err;
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
    EXPECT_EQ(e.soap_action, nullptr);
    EXPECT_EQ(e.num_requests, 0u);
  }
}

TEST_F(ServiceMapTest, FirstHundredFieldsOnly) {
  std::string line = "SERVICE_NAME|S|POST|http://h/s|NA|NA";
  for (int i = 6; i < 106; i++) line += "|h" + std::to_string(i);
  ASSERT_EQ(add(line).status, 0);
  std::string headers = service_map_ptr[0].service_header;
  EXPECT_EQ(headers.substr(0, 6), "h6\r\nh7");
  EXPECT_EQ(headers.substr(headers.size() - 5), "h99\r\n");
  EXPECT_EQ(headers.find("h100"), std::string::npos);
}

TEST_F(ServiceMapTest, RefusedLines) {
  struct Case {
    std::string line, err;
  } cases[] = {
      {"SERVICE_NAME|GetQuote|POST",
       "Keyword SERVICE_NAME has 3 fields less then expected 4 fields\n"},
      {"SERVICE_NAME", "Keyword SERVICE_NAME has 1 fields less then expected 4 fields\n"},
      {"SERVICE_NAME|S|LONGMETHOD|http://h/s",
       "SERVICE_NAME method at line 0 of the configuration is 10 characters long; at most 9 are "
       "allowed."},
      {"SERVICE_NAME|S|POST|http://h/s|" + std::string(256, 't'),
       "SERVICE_NAME indexing tag at line 0 of the configuration is 256 characters long; at most "
       "255 are allowed."},
      {"SERVICE_NAME|S|POST|http://h/s|NA|" + std::string(256, 'p'),
       "SERVICE_NAME name prefix at line 0 of the configuration is 256 characters long; at most "
       "255 are allowed."},
  };
  for (const Case &c : cases) {
    reset_config_state();
    Outcome out = add(c.line);
    EXPECT_EQ(out.status, -1);
    EXPECT_EQ(out.err, "set_service:" + c.err + "\n");
    EXPECT_EQ(total_services, 0) << "nothing is added: " << c.line;
  }
}

TEST_F(ServiceMapTest, LookupAndRenaming) {
  for (const char *line : {"SERVICE_NAME|A|POST|http://h/1", "SERVICE_NAME|B|POST|http://h/2",
                           "SERVICE_NAME|A|POST|http://h/3", "SERVICE_NAME|A|POST|http://h/1",
                           "SERVICE_NAME|A_1|POST|http://h/5"})
    ASSERT_EQ(add(line).status, 0);
  // A repeated name and URL is found at its first index.
  EXPECT_EQ(get_service_idx("A", "http://h/1"), 0);
  EXPECT_EQ(get_service_idx("A", "http://h/3"), 2);
  EXPECT_EQ(get_service_idx("A", "http://h/9"), -1);
  rename_service_names();
  std::vector<std::string> names;
  for (int i = 0; i < total_services; i++) names.push_back(service_map_ptr[i].service_name);
  // The new names are not checked against existing ones.
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "A_1", "A_2", "A_1"}));
}

TEST_F(ServiceMapTest, Report) {
  ASSERT_EQ(add("SERVICE_NAME|GetQuote|POST|http://127.0.0.1/quote/svc").status, 0);
  ASSERT_EQ(add("SERVICE_NAME|Put|PUT|http://h/p").status, 0);
  service_map_ptr[1].num_requests = 1234567;
  testing::internal::CaptureStdout();
  print_service_info();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "# Service Name\t\t\t\t\tTotal Requests\tURL\n"
            "0 GetQuote                      \t\t0\t\thttp://127.0.0.1/quote/svc\n"
            "1 Put                           \t\t1234567\t\thttp://h/p          \n");
}

}  // namespace

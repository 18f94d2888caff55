#include "tools/replay_gen/services/service_map.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

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
         e.indexing_tag + "," + e.sname_prefix + "," + text(e.service_header, e.service_header_len);
}

// A line makes an entry (its fields) or is refused (what the message says)
// and makes none.
TEST_F(ServiceMapTest, ConfiguredOrRefusedEntries) {
  const std::string t255(255, 't'), p255(255, 'p'), at = " at line 0 of the configuration is ";
  const struct {
    std::string line, fields, refusal = "";
  } cases[] = {
      {"SERVICE_NAME|GetQuote|POST|http://h/q", "GetQuote,POST,http://h/q,XACustId,,(null)"},
      {"SERVICE_NAME|GetQuote|POST|http://h/q|NA|NA|SOAPAction: urn:q",
       "GetQuote,POST,http://h/q,XACustId,,SOAPAction: urn:q\r\n"},
      {"SERVICE_NAME|GetQuote|POST|http://h/q||CustNo", "GetQuote,POST,http://h/q,CustNo,,(null)"},
      {"SERVICE_NAME|S|GET|https://h/s|Id|pre_|A: 1|NA|B: 2",
       "S,GET,https://h/s,Id,pre_,A: 1\r\nB: 2\r\n"},
      {"SERVICE_NAME|GetQuote|POST", "",
       "set_service:Keyword SERVICE_NAME has 3 fields less then expected 4 fields\n"},
      // The longest method, tag and prefix fit; one character more does not.
      {"SERVICE_NAME|S|METHOD_9_|u|" + t255 + "|" + p255,
       "S,METHOD_9_,u," + t255 + "," + p255 + ",(null)"},
      {"SERVICE_NAME|S|LONGMETHOD|http://h/s", "", "method" + at + "10 characters long; at most 9"},
      {"SERVICE_NAME|S|POST|http://h/s|t" + t255, "", "indexing tag" + at + "256 characters long;"},
      {"SERVICE_NAME|S|POST|http://h/s|NA|p" + p255, "",
       "name prefix" + at + "256 characters long;"},
  };
  for (const auto &c : cases) {
    Outcome out = apply_line(c.line, true);
    if (c.refusal.empty())
      EXPECT_EQ(out.text() + fields(run().services.service_map_ptr[0]), "0" + c.fields) << c.line;
    else
      EXPECT_NE(out.err.find(c.refusal), std::string::npos) << c.line << out.err;
    EXPECT_EQ(run().services.total_services + run().services.num_service_file,
              c.refusal.empty() ? 2 : 0)
        << c.line;
  }
  // Of a longer line the first 100 fields are used: headers h6 to h99.
  std::string line = "SERVICE_NAME|S|POST|http://h/s|NA|NA";
  for (int i = 6; i < 106; i++) line += "|h" + std::to_string(i);
  ASSERT_EQ(apply_line(line, true).status, 0);
  std::string headers = run().services.service_map_ptr[0].service_header;
  EXPECT_EQ(headers.substr(0, 4) + headers.substr(headers.size() - 5), "h6\r\nh99\r\n");
  EXPECT_EQ(headers.find("h100"), std::string::npos);
}

// A repeated name and URL is found at its first row.
TEST_F(ServiceMapTest, Lookup) {
  for (const char *url : {"http://h/1", "http://h/2", "http://h/3", "http://h/1"})
    ASSERT_EQ(apply_line(std::string("SERVICE_NAME|A|POST|") + url).status, 0);
  for (auto [url, row] : {std::pair{"http://h/1", 0}, {"http://h/3", 2}, {"http://h/9", -1}})
    EXPECT_EQ(get_service_idx(run(), "A", url), row) << url;
}

// Names held more than once become NAME_1, NAME_2, ... in row order, also
// among more rows than a sort orders by insertion (16); the new names are
// not checked against existing ones (A_1 twice). (The report that shows
// them: the end-to-end cases.)
TEST_F(ServiceMapTest, Renaming) {
  std::vector<std::string> many(20), renamed(20);
  for (int i = 0; i < 20; i++) many[i] = renamed[i] = i % 9 ? "S" + std::to_string(100 - i) : "A";
  renamed[9] = "A_1", renamed[18] = "A_2";
  const std::vector<std::string> cases[][2] = {
      {{"A", "B", "A", "A", "A_1"}, {"A", "B", "A_1", "A_2", "A_1"}},
      {many, renamed},
  };
  for (const auto &[names, want] : cases) {
    run_ = std::make_unique<RunState>();
    for (size_t i = 0; i < names.size(); i++)
      ASSERT_EQ(
          apply_line("SERVICE_NAME|" + names[i] + "|POST|http://h/" + std::to_string(i)).status, 0);
    Failure err;
    ASSERT_TRUE(rename_service_names(run(), &err));
    std::vector<std::string> got;
    for (int i = 0; i < run().services.total_services; i++)
      got.push_back(run().services.service_map_ptr[i].service_name);
    EXPECT_EQ(got, want);
  }
}

}  // namespace

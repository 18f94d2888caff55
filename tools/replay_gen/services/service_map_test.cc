#include "tools/replay_gen/services/service_map.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/request_head.h"
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

// A line makes an entry (its fields) or is refused (what the message says) and makes none.
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

// Names held more than once become NAME_1, NAME_2, ... in row order, among many rows as among few.
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

struct Svc {
  const char *method, *url, *prefix = "", *name = "S", *own_headers = nullptr, *action = nullptr;
};

// A run of the given services, its generator input to a file (or /dev/full) that lines() reads.
struct HeadRun {
  explicit HeadRun(const std::vector<Svc> &svcs, const char *gen = nullptr) : path(gen ? gen : "") {
    if (!gen) path = (dir = make_temp_dir()) + "/gen_lines";
    FILE *&fp = run.script_input.vtu_gen_script_fp = fopen(path.c_str(), "w");
    setvbuf(fp, nullptr, _IONBF, 0);
    snprintf(run.script_input.vtu_gen_script_file_name, kTextBufSize, "%s", path.c_str());
    ServiceMap *m = run.services.service_map_ptr =
        static_cast<ServiceMap *>(calloc(svcs.size(), sizeof(ServiceMap)));
    for (const Svc &s : svcs) {
      snprintf(m->method_type, kMethodTypeSize, "%s", s.method);
      m->url = strdup(s.url), m->url_len = static_cast<int32_t>(strlen(s.url));
      snprintf(m->sname_prefix, kTagSize, "%s", s.prefix);
      m->service_name = strdup(s.name);
      m->service_header = s.own_headers ? strdup(s.own_headers) : nullptr;
      m++->soap_action = s.action ? strdup(s.action) : nullptr;
    }
    run.services.total_services = run.services.max_services =
        static_cast<uint16_t>(run.services.num_service_file = svcs.size());
  }
  ~HeadRun() {
    fclose(run.script_input.vtu_gen_script_fp);
    if (!dir.empty()) remove_dir(dir);
  }
  Outcome compose() {
    return run_to_end([&](Failure *e) { return append_all_headers(run, e); });
  }
  std::string lines() const { return read_text(path); }
  const char *head(int i) const { return run.services.service_map_ptr[i].all_headers; }
  std::string dir, path;
  RunState run;
};

// A head: method (POST when none), path, host, common and own headers, SOAP action; a gen line.
TEST(RequestHead, ComposedHeads) {
  const std::string long_header = "X-Long: " + std::string(3000, 'v') + "\r\n";
  const struct {
    Svc svc;
    std::string request_line, gen_line;  // without " HTTP/1.0\r\n", "1 " and "\n"
  } cases[] = {
      {{"POST", "http://127.0.0.1/quote/svc", "", "GetQuote"},
       "POST /quote/svc",
       "POST http://127.0.0.1/quote/svc GetQuote"},
      {{"", "http://10.1.1.1:8080/ws/Order?wsdl=1", "", "Order", nullptr, "SOAPAction: o\r\n"},
       "POST /ws/Order?wsdl=1",
       "POST http://10.1.1.1:8080/ws/Order?wsdl=1 Order"},
      {{"GET", "https://127.0.0.1/", "Pfx", "Root", "X-Own: 1\r\n"},
       "GET /",
       "GET https://127.0.0.1/ Pfx_Root"},
      {{"PUT", "http://h/p", "", "Long", long_header.c_str()}, "PUT /p", "PUT http://h/p Long"},
  };
  std::vector<Svc> svcs;
  for (const auto &c : cases) svcs.push_back(c.svc);
  HeadRun h(svcs);
  h.run.config.http_header = strdup("A: 1\r\nB: 2\r\n");
  h.run.config.http_header_len = static_cast<int32_t>(strlen(h.run.config.http_header));
  ASSERT_EQ(h.compose().status, 0);
  std::string gen_lines;
  for (int i = 0; i < 4; i++) {
    const Svc &s = cases[i].svc;
    const std::string head = cases[i].request_line +
                             " HTTP/1.0\r\nHost: 127.0.0.1\r\nA: 1\r\nB: 2\r\n" +
                             (s.own_headers ? s.own_headers : "") + (s.action ? s.action : "");
    EXPECT_EQ(h.head(i), head) << i;
    EXPECT_EQ(h.run.services.service_map_ptr[i].all_headers_len, static_cast<int32_t>(head.size()));
    gen_lines += "1 " + cases[i].gen_line + "\n";
  }
  EXPECT_EQ(h.lines(), gen_lines);
}

// A bad URL ends the run at its service (its generator line written first), as does a lost line.
TEST(RequestHead, BadUrlsAndUnwrittenLinesFailTheRun) {
  const struct {
    const char *url, *message;
  } cases[] = {
      {"http://127.0.0.1", "Invalid URL http://127.0.0.1\n\n"},
      {"127.0.0.1/quote", "Invalid URL 127.0.0.1/quote\n\n"},
      {"ftp://127.0.0.1/x",
       "Error: Invalid HTTP schema used in URL ftp. It should be http or https\n"},
  };
  for (const auto &c : cases) {
    HeadRun h({{"POST", "http://127.0.0.1/ok", "", "Ok"},
               {"POST", c.url, "", "Bad"},
               {"POST", "http://127.0.0.1/never"}});
    EXPECT_EQ(h.compose().text(), std::string("-1make_method_and_host_header:") + c.message);
    EXPECT_EQ(h.lines(), "1 POST http://127.0.0.1/ok Ok\n1 POST " + std::string(c.url) + " Bad\n");
    EXPECT_EQ(h.head(2), nullptr);
  }
  HeadRun full({{"POST", "http://127.0.0.1/ok"}}, "/dev/full");
  EXPECT_EQ(full.compose().text(),
            "-1make_method_and_host_header:Error in writing file '/dev/full': No space left on "
            "device\n");
  EXPECT_EQ(full.head(0), nullptr);
}

}  // namespace

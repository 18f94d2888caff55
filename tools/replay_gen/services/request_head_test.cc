#include "tools/replay_gen/services/request_head.h"

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

struct Svc {
  const char *method, *url, *prefix = "", *name = "S", *own_headers = nullptr, *action = nullptr;
};

// A run of the given services whose generator input goes to a file (or
// /dev/full); lines() reads it back.
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

// Each service's head: its method (POST when none), path and the host, the
// common headers, its own headers and SOAP action; a generator line each.
TEST(RequestHead, ComposedHeads) {
  const std::string long_header = "X-Long: " + std::string(3000, 'v') + "\r\n";
  const struct {
    Svc svc;
    std::string head, gen_line;
  } cases[] = {
      {{"POST", "http://127.0.0.1/quote/svc", "", "GetQuote"},
       "POST /quote/svc HTTP/1.0\r\n",
       "1 POST http://127.0.0.1/quote/svc GetQuote\n"},
      {{"", "http://10.1.1.1:8080/ws/Order?wsdl=1", "", "Order", nullptr, "SOAPAction: o\r\n"},
       "POST /ws/Order?wsdl=1 HTTP/1.0\r\n",
       "1 POST http://10.1.1.1:8080/ws/Order?wsdl=1 Order\n"},
      {{"GET", "https://127.0.0.1/", "Pfx", "Root", "X-Own: 1\r\n"},
       "GET / HTTP/1.0\r\n",
       "1 GET https://127.0.0.1/ Pfx_Root\n"},
      {{"PUT", "http://h/p", "", "Long", long_header.c_str()},
       "PUT /p HTTP/1.0\r\n",
       "1 PUT http://h/p Long\n"},
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
    const std::string head = cases[i].head + "Host: 127.0.0.1\r\nA: 1\r\nB: 2\r\n" +
                             (s.own_headers ? s.own_headers : "") + (s.action ? s.action : "");
    EXPECT_EQ(h.head(i), head) << i;
    EXPECT_EQ(h.run.services.service_map_ptr[i].all_headers_len, static_cast<int32_t>(head.size()));
    gen_lines += cases[i].gen_line;
  }
  EXPECT_EQ(h.lines(), gen_lines);
}

// A bad URL ends the run at its service, whose generator line is written
// before its URL is checked; so does a generator line not written.
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

#include "tools/replay_gen/services/request_head.h"

#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

struct Svc {
  const char *method, *url, *prefix, *name, *own_headers, *soap_action;
};

class RequestHead : public testing::Test {
 protected:
  void SetUp() override { fresh(); }
  void TearDown() override { fclose(run().script_input.vtu_gen_script_fp); }
  void fresh() {
    if (run_) TearDown();
    run_ = std::make_unique<RunState>();
    run().script_input.vtu_gen_script_fp = tmpfile();
  }
  RunState &run() { return *run_; }
  std::unique_ptr<RunState> run_;
  Outcome compose() {
    return run_to_end([&](Failure *e) { return append_all_headers(run(), e); });
  }

  void set_services(const std::vector<Svc> &svcs) {
    run().services.service_map_ptr =
        static_cast<ServiceMap *>(calloc(svcs.size(), sizeof(ServiceMap)));
    for (size_t i = 0; i < svcs.size(); i++) {
      ServiceMap &m = run().services.service_map_ptr[i];
      snprintf(m.method_type, kMethodTypeSize, "%s", svcs[i].method);
      m.url = strdup(svcs[i].url), m.url_len = static_cast<int32_t>(strlen(m.url));
      snprintf(m.sname_prefix, kTagSize, "%s", svcs[i].prefix);
      m.service_name = strdup(svcs[i].name);
      m.service_header = svcs[i].own_headers ? strdup(svcs[i].own_headers) : nullptr;
      m.soap_action = svcs[i].soap_action ? strdup(svcs[i].soap_action) : nullptr;
    }
    run().services.total_services = run().services.max_services =
        static_cast<uint16_t>(run().services.num_service_file = svcs.size());
  }

  std::string generator_lines() {
    fflush(run().script_input.vtu_gen_script_fp);
    rewind(run().script_input.vtu_gen_script_fp);
    std::string out(4096, 0);
    out.resize(fread(out.data(), 1, out.size(), run().script_input.vtu_gen_script_fp));
    return out;
  }
};

TEST_F(RequestHead, ComposedHeads) {
  std::string long_header = "X-Long: " + std::string(3000, 'v') + "\r\n";
  set_services({
      {"POST", "http://127.0.0.1/quote/svc", "", "GetQuote", nullptr, nullptr},
      {"", "http://10.1.1.1:8080/ws/Order?wsdl=1", "", "Order", nullptr,
       "SOAPAction: urn:order\r\n"},
      {"GET", "https://127.0.0.1/", "Pfx", "Root", "X-Own: 1\r\n", nullptr},
      {"PUT", "http://h/p", "", "Long", long_header.c_str(), nullptr},
  });
  run().config.http_header = strdup("A: 1\r\nB: 2\r\n");
  run().config.http_header_len = static_cast<int32_t>(strlen(run().config.http_header));
  ASSERT_EQ(compose().status, 0);

  const std::string common = "A: 1\r\nB: 2\r\n";
  const std::string expected[] = {
      "POST /quote/svc HTTP/1.0\r\nHost: 127.0.0.1\r\n" + common,
      "POST /ws/Order?wsdl=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n" + common +
          "SOAPAction: urn:order\r\n",
      "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n" + common + "X-Own: 1\r\n",
      "PUT /p HTTP/1.0\r\nHost: 127.0.0.1\r\n" + common + long_header,
  };
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(run().services.service_map_ptr[i].all_headers, expected[i]) << i;
    EXPECT_EQ(run().services.service_map_ptr[i].all_headers_len,
              static_cast<int32_t>(expected[i].size()));
    EXPECT_EQ(run().services.service_map_ptr[i].service_header, nullptr);
  }
  EXPECT_STREQ(run().services.service_map_ptr[1].method_type, "POST");
  EXPECT_EQ(run().config.http_header, nullptr);
  EXPECT_EQ(generator_lines(),
            "1 POST http://127.0.0.1/quote/svc GetQuote\n"
            "1 POST http://10.1.1.1:8080/ws/Order?wsdl=1 Order\n"
            "1 GET https://127.0.0.1/ Pfx_Root\n"
            "1 PUT http://h/p Long\n");
}

TEST_F(RequestHead, BadUrlsFailTheRun) {
  struct Case {
    const char *url, *message;
  } cases[] = {
      {"http://127.0.0.1", "Invalid URL http://127.0.0.1\n\n"},
      {"127.0.0.1/quote", "Invalid URL 127.0.0.1/quote\n\n"},
      {"ftp://127.0.0.1/x",
       "Error: Invalid HTTP schema used in URL ftp. It should be http or https\n"},
  };
  for (const Case &c : cases) {
    fresh();
    set_services({{"POST", "http://127.0.0.1/ok", "", "Ok", nullptr, nullptr},
                  {"POST", c.url, "", "Bad", nullptr, nullptr},
                  {"POST", "http://127.0.0.1/never", "", "Never", nullptr, nullptr}});
    Outcome o = compose();
    EXPECT_EQ(o.err, std::string("make_method_and_host_header:") + c.message);
    EXPECT_EQ(o.status, -1) << c.url;
    // The bad service's generator line is written before its URL is checked.
    EXPECT_EQ(generator_lines(),
              "1 POST http://127.0.0.1/ok Ok\n1 POST " + std::string(c.url) + " Bad\n");
    EXPECT_EQ(run().services.service_map_ptr[2].all_headers, nullptr);
  }
}

// A generator line that cannot be written ends the run, naming the file.
TEST_F(RequestHead, AGeneratorLineNotWrittenFailsTheRun) {
  fclose(run().script_input.vtu_gen_script_fp);
  run().script_input.vtu_gen_script_fp = fopen("/dev/full", "w");
  ASSERT_NE(run().script_input.vtu_gen_script_fp, nullptr);
  setvbuf(run().script_input.vtu_gen_script_fp, nullptr, _IONBF, 0);
  strcpy(run().script_input.vtu_gen_script_file_name, "/tmp/gen_lines");
  set_services({{"POST", "http://127.0.0.1/ok", "", "Ok", nullptr, nullptr}});
  Outcome o = compose();
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err,
            "make_method_and_host_header:Error in writing file '/tmp/gen_lines': No space left on "
            "device\n");
  EXPECT_EQ(run().services.service_map_ptr[0].all_headers, nullptr);
}

}  // namespace

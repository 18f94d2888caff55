// Small replay packages written by the unit tests of vt_replay.
#ifndef VT_TOOLS_REPLAY_REPLAY_TEST_SUPPORT_H_
#define VT_TOOLS_REPLAY_REPLAY_TEST_SUPPORT_H_

#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/figures/replay_stats.h"
#include "tools/replay/replay_rewrite.h"

struct TestRequest {
  uint64_t time_ms = 0;
  int page = 0;
  std::string body = "<x/>";
  std::string request_line = "POST /svc/p HTTP/1.1";
  std::string headers = "";  // more header lines after Host, each ending in "\r\n"
};

struct TestUser {
  uint64_t id = 1;
  int worker = 0;
  std::vector<TestRequest> requests;
};

inline std::string test_entry_request(const TestRequest &r) {
  return r.request_line + "\r\nHost: 127.0.0.1\r\n" + r.headers +
         "Content-Length: " + std::to_string(r.body.size()) + "\r\n\r\n" + r.body;
}

inline std::string read_text(const std::string &path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Header rules from their texts (--header), each added as the option adds it.
inline std::vector<ReplayHeaderRule> rules_of(const std::vector<std::string> &texts) {
  std::vector<ReplayHeaderRule> rules;
  for (const std::string &t : texts) {
    ReplayHeaderRule r;
    std::string error;
    if (!parse_header_rule(t, &r, &error)) abort();
    add_header_rule(&rules, r);
  }
  return rules;
}

// A fresh directory under TMPDIR, removed by the destructor.
struct TestDir {
  std::string path;
  TestDir() {
    std::string t =
        (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + std::string("/vt_replay.XXXXXX");
    path = mkdtemp(t.data()) ? t : "";
  }
  ~TestDir() { std::filesystem::remove_all(path); }
};

// Writes vt_index_<w> and vt_req_<w> for w = 0 .. workers-1, users in the order given.
inline void write_test_package(const std::string &dir, int workers,
                               const std::vector<TestUser> &users) {
  for (int w = 0; w < workers; w++) {
    std::ofstream index(dir + "/vt_index_" + std::to_string(w), std::ios::binary);
    std::ofstream req(dir + "/vt_req_" + std::to_string(w), std::ios::binary);
    index << "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, "
             "offset, size, ...\n";
    uint64_t offset = 0;
    for (const TestUser &u : users) {
      if (u.worker != w) continue;
      char id[32];
      snprintf(id, sizeof id, "%09lu", static_cast<unsigned long>(u.id));
      index << id << ",vt_req_" << w;
      for (const TestRequest &r : u.requests) {
        std::string entry = test_entry_request(r) + "\n";
        req << entry;
        index << "," << r.time_ms << "," << r.page << "," << offset << "," << entry.size();
        offset += entry.size();
      }
      index << "\n";
    }
  }
}

// The counts in one line: "planned 4, sent 4, completed 3, errors 1 (reset 1); 200: 3".
inline std::string counts_line(const ReplayStats &s) {
  const ReplayCounts &c = s.counts;
  std::string out = "planned " + std::to_string(c.planned) + ", sent " + std::to_string(c.sent) +
                    ", completed " + std::to_string(c.completed) + ", errors " +
                    std::to_string(c.errors) + " (";
  for (int k = 0; k < kErrorKinds; k++)
    if (s.errors[k])
      out += std::string(out.back() == '(' ? "" : ", ") + kReplayErrorNames[k] + " " +
             std::to_string(s.errors[k]);
  out += ")";
  for (const auto &[code, n] : s.status)
    out += (out.back() == ')' ? "; " : ", ") + std::to_string(code) + ": " + std::to_string(n);
  return out;
}

#endif  // VT_TOOLS_REPLAY_REPLAY_TEST_SUPPORT_H_

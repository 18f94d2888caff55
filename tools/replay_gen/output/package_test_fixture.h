// Output-stage fixture: a replay directory, services, records with bodies in an input file.
#ifndef VT_REPLAY_GEN_OUTPUT_PACKAGE_TEST_FIXTURE_H_
#define VT_REPLAY_GEN_OUTPUT_PACKAGE_TEST_FIXTURE_H_

#include <string.h>
#include <unistd.h>

#include "tools/replay_gen/output/index_files.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/services/request_head.h"
#include "tools/replay_gen/test_support.h"

struct TestRecord {
  int64_t uid;
  uint64_t time;
  int16_t service;
  std::string body;
  uint32_t ts_offset = 0;  // of a creation timestamp in the body, and its size
  int16_t ts_size = 0;
};

constexpr uint64_t kT = 1796400309000;  // an absolute time in ms
const std::string kHeader = kIndexHeader;

class PackageTest : public testing::Test {
 protected:
  std::string dir;
  FILE *input = nullptr;
  RunState run;
  Failure err;

  void SetUp() override {
    dir = make_temp_dir();
    snprintf(run.config.replay_dir, kTextBufSize, "%s", dir.c_str());
    run.workers.num_vvm = 2;
  }

  void TearDown() override {
    for (int w = 0; w < kMaxVvm; w++)
      if (run.workers.vvm_list[w].vt_req_file_fd > 2) close(run.workers.vvm_list[w].vt_req_file_fd);
    if (input) fclose(input);
    input = nullptr;
    std::filesystem::remove_all(dir);
  }
  void reset() {
    TearDown();
    fresh_run(run);
    SetUp();
  }

  // Services 0..n-1: POST http://127.0.0.1/svc<i>, heads composed.
  void set_services(int n) {
    run.services.service_map_ptr = static_cast<ServiceMap *>(calloc(n, sizeof(ServiceMap)));
    for (int i = 0; i < n; i++) {
      ServiceMap &m = run.services.service_map_ptr[i];
      std::string url = "http://127.0.0.1/svc" + std::to_string(i);
      m.url = strdup(url.c_str()), m.url_len = static_cast<int32_t>(url.size());
      m.service_name = strdup(("Svc" + std::to_string(i)).c_str());
      snprintf(m.method_type, kMethodTypeSize, "POST");
    }
    run.services.total_services = run.services.max_services =
        static_cast<uint16_t>(run.services.num_service_file = n);
    run.script_input.vtu_gen_script_fp = tmpfile();
    EXPECT_TRUE(append_all_headers(run, &err));
    fclose(run.script_input.vtu_gen_script_fp);
    run.script_input.vtu_gen_script_fp = nullptr;
  }

  // The bodies in an input file, each behind other bytes; seq_data_arr in the given order.
  void load(const std::vector<TestRecord> &recs) {
    std::string text;
    free(run.records.seq_data_arr);
    run.records.seq_data_arr = static_cast<SeqData *>(calloc(recs.size() + 1, sizeof(SeqData)));
    for (size_t i = 0; i < recs.size(); i++) {
      text += "<Request time and action>\n";
      const TestRecord &t = recs[i];
      SeqData &r = run.records.seq_data_arr[i];
      r.uid = t.uid, r.time_stamp = t.time, r.seq = i, r.service_id = t.service;
      r.req_offset = static_cast<off_t>(text.size());
      r.req_size = t.body.size();
      r.creation_ts_offset = t.ts_offset, r.creation_ts_size = t.ts_size;
      r.type = t.ts_offset ? '1' : 0;
      text += t.body + "\n";
    }
    std::ofstream(dir + "/input.log", std::ios::binary) << text;
    if (input) fclose(input);
    input = fopen((dir + "/input.log").c_str(), "r");
    for (size_t i = 0; i < recs.size(); i++) run.records.seq_data_arr[i].req_file_fp = input;
    run.counters.g_valid_msgcount = run.counters.g_msgcount = recs.size();
  }

  // Step 3, the time sort and Step 4, quiet.
  bool all_steps(Failure *e) {
    uint64_t n = run.counters.g_valid_msgcount;
    testing::internal::CaptureStdout();
    bool ok = init_vvm_data(run, e) && sort_seq_array(run, n, e) &&
              (sort_seq_data_by_time(run, n), process_sequence_data_new(run, e));
    testing::internal::GetCapturedStdout();
    return ok;
  }
  Outcome steps() {
    return run_to_end([&](Failure *e) { return all_steps(e); });
  }
  void run_steps() { EXPECT_EQ(steps().text(), "0"); }

  std::string file(const std::string &name) { return read_text(dir + "/" + name); }
};

// The head of service i as set_services composes it (38 bytes), and a whole entry.
inline std::string svc_head(int i) {
  return "POST /svc" + std::to_string(i) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
}
inline std::string entry(int svc, const std::string &body) {
  return svc_head(svc) + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body +
         "\n";
}

#endif  // VT_REPLAY_GEN_OUTPUT_PACKAGE_TEST_FIXTURE_H_

// Test fixture for the output stage: a temporary replay directory, a service
// table with composed heads, and records whose bodies lie in an input file
// written by the test.
#ifndef VT_REPLAY_GEN_OUTPUT_PACKAGE_TEST_FIXTURE_H_
#define VT_REPLAY_GEN_OUTPUT_PACKAGE_TEST_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/output/index_files.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/sequencing/sequence_order.h"
#include "tools/replay_gen/services/request_head.h"

struct TestRecord {
  int64_t uid;
  uint64_t time;
  int16_t service;
  std::string body;
  uint32_t ts_offset = 0;
  int16_t ts_size = 0;
};

class PackageTest : public testing::Test {
 protected:
  std::string dir;
  FILE *input = nullptr;

  void SetUp() override {
    char templ[] = "/tmp/vt_output_XXXXXX";
    dir = mkdtemp(templ);
    snprintf(replay_dir, kTextBufSize, "%s", dir.c_str());
    set_vt_exit_hook(throw_on_vt_exit);
    num_vvm = 2;
  }

  void TearDown() override {
    set_vt_exit_hook(nullptr);
    for (int w = 0; w < kMaxVvm; w++) {
      if (vvm_list[w].vt_req_file_fd > 2) close(vvm_list[w].vt_req_file_fd);
      vvm_list[w] = Vvm{};
    }
    while (head) {
      UserNode *next = head->next;
      free(head->req_node);
      free(head);
      head = next;
    }
    tail = nullptr;
    if (input) fclose(input);
    input = nullptr;
    free(seq_data_arr);
    seq_data_arr = nullptr;
    for (int i = 0; i < num_service_file; i++) {
      free(service_map_ptr[i].service_name);
      free(service_map_ptr[i].url);
      free(service_map_ptr[i].all_headers);
    }
    free(service_map_ptr);
    service_map_ptr = nullptr;
    total_services = max_services = num_service_file = 0;
    free(req_top_line);
    req_top_line = nullptr;
    req_top_line_len = 0;
    g_valid_msgcount = g_msgcount = g_ignore_request = 0;
    last_vvm = -1;
    num_vvm = 0;
    total_requests = max_req_per_user = 0;
    one_sort_algo = do_parameterization = 0;
    commentry_req_count = 0;
    if (system(("rm -rf '" + dir + "'").c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir;
  }

  // Services 0..n-1: POST http://127.0.0.1/svc<i>, heads composed.
  void set_services(int n) {
    service_map_ptr = static_cast<ServiceMap *>(calloc(n, sizeof(ServiceMap)));
    for (int i = 0; i < n; i++) {
      ServiceMap &m = service_map_ptr[i];
      std::string url = "http://127.0.0.1/svc" + std::to_string(i);
      m.url = strdup(url.c_str());
      m.url_len = static_cast<int32_t>(url.size());
      m.service_name = strdup(("Svc" + std::to_string(i)).c_str());
      snprintf(m.method_type, kMethodTypeSize, "POST");
    }
    total_services = max_services = static_cast<uint16_t>(n);
    num_service_file = n;
    vtu_gen_script_fp = tmpfile();
    append_all_headers();
    fclose(vtu_gen_script_fp);
    vtu_gen_script_fp = nullptr;
  }

  void set_top_line(const char *text) {
    req_top_line = strdup(text);
    req_top_line_len = static_cast<int32_t>(strlen(text));
  }

  // Writes the bodies into an input file, each behind some other bytes, and
  // makes seq_data_arr of the records in the given (merge) order.
  void load(const std::vector<TestRecord> &recs) {
    std::string path = dir + "/input.log";
    std::string text;
    free(seq_data_arr);
    seq_data_arr = static_cast<SeqData *>(calloc(recs.size() + 1, sizeof(SeqData)));
    for (size_t i = 0; i < recs.size(); i++) {
      text += "<Request time and action>\n";
      SeqData &r = seq_data_arr[i];
      r.uid = recs[i].uid;
      r.time_stamp = recs[i].time;
      r.seq = i;
      r.service_id = recs[i].service;
      r.req_offset = static_cast<off_t>(text.size());
      r.req_size = recs[i].body.size();
      r.creation_ts_offset = recs[i].ts_offset;
      r.creation_ts_size = recs[i].ts_size;
      r.type = recs[i].ts_offset ? '1' : 0;
      text += recs[i].body + "\n";
    }
    std::ofstream(path, std::ios::binary) << text;
    if (input) fclose(input);
    input = fopen(path.c_str(), "r");
    for (size_t i = 0; i < recs.size(); i++) seq_data_arr[i].req_file_fp = input;
    g_valid_msgcount = g_msgcount = recs.size();
  }

  // Step 3, the time sort and Step 4; returns what they printed.
  std::string run_steps() {
    testing::internal::CaptureStdout();
    init_vvm_data();
    sort_seq_array(g_valid_msgcount);
    sort_seq_data_by_time(g_valid_msgcount);
    process_sequence_data_new();
    return testing::internal::GetCapturedStdout();
  }

  std::string file(const std::string &name) {
    std::ifstream in(dir + "/" + name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

// The head of service i as set_services composes it (38 bytes).
inline std::string svc_head(int i) {
  return "POST /svc" + std::to_string(i) + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
}

#endif  // VT_REPLAY_GEN_OUTPUT_PACKAGE_TEST_FIXTURE_H_

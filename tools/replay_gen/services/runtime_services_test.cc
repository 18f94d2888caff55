#include "tools/replay_gen/services/runtime_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

using namespace loader_test;

class RuntimeServicesTest : public testing::Test {
 protected:
  void SetUp() override {
    add_configured_service(run, "GetQuote", "http://127.0.0.1/quote", "XACustId");
  }

  // Classifies and counts one record the way the parser does.
  SeqData classify(ThreadArgs &t, const char *name, const char *url, const char *action) {
    SeqData r{};
    char type = 0;
    EXPECT_TRUE(
        get_and_save_runtime_service_data(run, &t, name, url, action, &r.service_id, &type, &err));
    if (type == SERVICE_MAP_ENTRY) {
      t.service_counter[r.service_id]++;
    } else {
      EXPECT_EQ(type, RUNTIME_SERVICE_ENTRY);
      t.run_time_services[r.service_id].num_requests++;
      r.runtime_service = 1;
    }
    return r;
  }

  TestRun run;
  TestThreads threads_{run, 2, 1};
  Failure err;
};

// Thread 1 read files 0 and 3, thread 0 file 2: the table takes the services
// in file order, whatever the thread order, each with the SOAP action and
// the place of its first record in file order.
TEST_F(RuntimeServicesTest, MergesInFileOrder) {
  ThreadArgs &t0 = threads_[0], &t1 = threads_[1];
  t1.cur_file_seq = 0;
  SeqData records[] = {
      classify(t1, "C", "http://127.0.0.1/c", "SOAPAction: c1\r\n"),
      classify(t1, "B", "http://127.0.0.1/b", "SOAPAction: b1\r\n"),
      classify(t1, "GetQuote", "http://127.0.0.1/quote", ""),
  };
  t0.cur_file_seq = 2;
  SeqData later[] = {
      classify(t0, "A", "http://127.0.0.1/a", "SOAPAction: a0\r\n"),
      classify(t0, "B", "http://127.0.0.1/b", "SOAPAction: b0\r\n"),
  };
  t1.cur_file_seq = 3;
  SeqData last = classify(t1, "D", "http://127.0.0.1/d", "SOAPAction: d1\r\n");

  ASSERT_TRUE(add_runtime_services_in_file_order(run, threads_.args, 2, &err));
  int16_t predefined = 1;
  ASSERT_TRUE(update_service_map_ptr(run, &t0, predefined, &err));
  ASSERT_TRUE(update_service_map_ptr(run, &t1, predefined, &err));
  ASSERT_TRUE(remap_runtime_service_ids(run, &t1, records, 3, &err));
  ASSERT_TRUE(remap_runtime_service_ids(run, &t0, later, 2, &err));
  ASSERT_TRUE(remap_runtime_service_ids(run, &t1, &last, 1, &err));

  ASSERT_EQ(run.services.total_services, 5);
  const char *names[] = {"GetQuote", "C", "B", "A", "D"};
  const char *actions[] = {nullptr, "SOAPAction: c1\r\n", "SOAPAction: b1\r\n",
                           "SOAPAction: a0\r\n", "SOAPAction: d1\r\n"};
  const uint64_t counts[] = {1, 1, 2, 1, 1};
  for (int i = 0; i < 5; i++) {
    const ServiceMap &e = run.services.service_map_ptr[i];
    EXPECT_STREQ(e.service_name, names[i]) << i;
    EXPECT_STREQ(e.soap_action, actions[i]) << i;
    EXPECT_EQ(e.num_requests, counts[i]) << i;
  }
  EXPECT_EQ((std::vector<int>{records[0].service_id, records[1].service_id, records[2].service_id,
                              later[0].service_id, later[1].service_id, last.service_id}),
            (std::vector<int>{1, 2, 0, 3, 2, 4}));
}

// The file-order pass takes a single service met by any thread as it takes
// many: the per-thread merge that follows finds it in the table.
TEST_F(RuntimeServicesTest, OneServiceMetIsTakenInFileOrderToo) {
  ThreadArgs &t1 = threads_[1];
  t1.cur_file_seq = 1;
  SeqData record = classify(t1, "Only", "http://127.0.0.1/only", "");
  ASSERT_TRUE(add_runtime_services_in_file_order(run, threads_.args, 2, &err));
  ASSERT_EQ(run.services.total_services, 2);
  EXPECT_STREQ(run.services.service_map_ptr[1].service_name, "Only");
  ASSERT_TRUE(update_service_map_ptr(run, &t1, 1, &err));
  ASSERT_TRUE(remap_runtime_service_ids(run, &t1, &record, 1, &err));
  EXPECT_EQ(run.services.total_services, 2);
  EXPECT_EQ(record.service_id, 1);
}

TEST_F(RuntimeServicesTest, AThreadAddressesAtMost32767Services) {
  ThreadArgs &t = threads_[0];
  t.run_time_services = static_cast<RunTimeServiceInfo *>(
      calloc(kMaxAddressableServices, sizeof(RunTimeServiceInfo)));
  char name[] = "s", url[] = "u";
  for (int i = 0; i < kMaxAddressableServices; i++)
    t.run_time_services[i] = {url, name, name, 0, 0};
  t.total_runtime_service = t.max_runtime_service = kMaxAddressableServices;
  EXPECT_EQ(classify(t, "s", "u", "").service_id, 0);
  SeqData r{};
  char type = 0;
  Outcome o = run_to_end([&](Failure *e) {
    return get_and_save_runtime_service_data(run, &t, "one more", "u", "", &r.service_id, &type, e);
  });
  EXPECT_EQ(o.status, -1);
  EXPECT_NE(o.err.find("at most 32767 services"), std::string::npos) << o.err;
  free(t.run_time_services);
  t.run_time_services = nullptr;
  t.total_runtime_service = t.max_runtime_service = 0;
}

}  // namespace

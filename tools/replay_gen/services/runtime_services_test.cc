#include "tools/replay_gen/services/runtime_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

using namespace loader_test;

// Classifies and counts one record of thread t the way the parser does.
SeqData classify(const RunState &run, ThreadArgs &t, const char *name, const char *url,
                 const char *action, Failure *err) {
  SeqData r{};
  char type = 0;
  EXPECT_TRUE(
      get_and_save_runtime_service_data(run, &t, name, url, action, &r.service_id, &type, err));
  if (type == SERVICE_MAP_ENTRY) {
    t.service_counter[r.service_id]++;
  } else {
    EXPECT_EQ(type, RUNTIME_SERVICE_ENTRY);
    t.run_time_services[r.service_id].num_requests++;
    r.runtime_service = 1;
  }
  return r;
}

// A record met by a loader thread in a file; the table, beside the
// configured GetQuote, takes the services in file order, whatever the thread
// order, each with the SOAP action of its first record in file order ("name
// action requests"), and the records then point at it.
TEST(RuntimeServices, MergedInFileOrder) {
  const struct Met {
    int thread, file;
    const char *name, *action;
  } met[] = {{1, 0, "C", "c1"}, {1, 0, "B", "b1"}, {1, 0, "GetQuote", ""},
             {0, 2, "A", "a0"}, {0, 2, "B", "b0"}, {1, 3, "D", "d1"}};
  TestRun run;
  add_configured_service(run, "GetQuote", "http://h/GetQuote", "XACustId");
  TestThreads threads(run, 2, 1);
  Failure err;
  std::vector<SeqData> records;
  for (const Met &m : met) {
    threads[m.thread].cur_file_seq = m.file;
    std::string url = std::string("http://h/") + m.name, action = m.action;
    records.push_back(classify(run, threads[m.thread], m.name, url.c_str(),
                               action.empty() ? "" : (action + "\r\n").c_str(), &err));
  }
  ASSERT_TRUE(add_runtime_services_in_file_order(run, threads.args, 2, &err));
  for (int t = 0; t < 2; t++) ASSERT_TRUE(update_service_map_ptr(run, &threads[t], 1, &err));
  std::vector<int> ids;
  for (size_t i = 0; i < records.size(); i++) {
    ASSERT_TRUE(remap_runtime_service_ids(run, &threads[met[i].thread], &records[i], 1, &err));
    ids.push_back(records[i].service_id);
  }
  std::vector<std::string> table;
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &e = run.services.service_map_ptr[i];
    std::string action = e.soap_action ? e.soap_action : "-";
    table.push_back(std::string(e.service_name) + " " + action.substr(0, action.find('\r')) + " " +
                    std::to_string(e.num_requests));
  }
  EXPECT_EQ(table,
            (std::vector<std::string>{"GetQuote - 1", "C c1 1", "B b1 2", "A a0 1", "D d1 1"}));
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 0, 3, 2, 4}));
}

TEST(RuntimeServices, AThreadAddressesAtMost32767Services) {
  TestRun run;
  TestThreads threads(run, 1, 1);
  ThreadArgs &t = threads[0];
  std::vector<RunTimeServiceInfo> full(kMaxAddressableServices);
  char name[] = "s", url[] = "u";
  for (auto &e : full) e = {url, name, name, 0, 0};
  t.run_time_services = full.data();
  t.total_runtime_service = t.max_runtime_service = kMaxAddressableServices;
  Failure err;
  EXPECT_EQ(classify(run, t, "s", "u", "", &err).service_id, 0);
  SeqData r{};
  char type = 0;
  Outcome o = run_to_end([&](Failure *e) {
    return get_and_save_runtime_service_data(run, &t, "one more", "u", "", &r.service_id, &type, e);
  });
  EXPECT_EQ(o.status, -1);
  EXPECT_NE(o.err.find("at most 32767 services"), std::string::npos) << o.err;
  t.run_time_services = nullptr;
  t.total_runtime_service = t.max_runtime_service = 0;
}

}  // namespace

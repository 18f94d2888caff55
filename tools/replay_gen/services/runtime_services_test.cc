#include "tools/replay_gen/services/runtime_services.h"

#include <gtest/gtest.h>
#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/service_index.h"
#include "tools/replay_gen/test_support.h"

namespace {

using namespace loader_test;
using Pair = std::pair<std::string, std::string>;

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

// Beside GetQuote, services join in file order with their first SOAP action; records point there.
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

// Keys that differ by little: other URLs or names, prefixes, a trailing blank, letter case.
Pair near_key(uint64_t r) {
  static const char *names[] = {"Get", "Get ", "Ge", "GetX", "get", "Get_1"};
  static const char *urls[] = {"http://h/a", "http://h/a/", "http://h/A", "https://h/a",
                               "http://h/a?x"};
  std::string name = names[r % 6], url = urls[r / 6 % 5];
  if (r / 30 % 3) name += std::to_string(r / 90 % 40);
  if (r / 30 % 4 == 1) url += std::to_string(r / 120 % 30);
  return {name, url};
}

uint64_t next(uint64_t *state) {
  *state = *state * 6364136223846793005ull + 1442695040888963407ull;
  return *state >> 33;
}

Pair row(const RunState &run, int i) {
  return {run.services.service_map_ptr[i].service_name, run.services.service_map_ptr[i].url};
}
// The lowest row holding the pair, found the slow way.
int scan(const RunState &run, const Pair &key) {
  for (int i = 0; i < run.services.total_services; i++)
    if (row(run, i) == key) return i;
  return -1;
}

// Near-equal keys of the configuration and two threads: lookups, merge and remap agree with a scan.
TEST(ServiceIndexTest, LargeTableAgreesWithScan) {
  TestRun run;
  Failure err;
  uint64_t rng = 7;
  for (int i = 0; i < 1500; i++) {
    Pair key = near_key(next(&rng) % 8000);
    add_configured_service(run, key.first.c_str(), key.second.c_str(), "XACustId");
  }
  for (int i = 0; i < 8000; i++) {
    Pair key = near_key(next(&rng) % 8000);
    ASSERT_EQ(get_service_idx(run, key.first.c_str(), key.second.c_str()), scan(run, key))
        << key.first << "|" << key.second;
  }

  // A pair of the table is found there, any other in the thread's own list.
  TestThreads threads(run, 2, run.services.total_services);
  std::vector<SeqData> records[2];
  std::vector<Pair> keys[2];
  for (int t = 0; t < 2; t++) {
    for (int i = 0; i < 5000; i++) {
      Pair key = near_key(next(&rng) % 16000);
      SeqData r = classify(run, threads[t], key.first.c_str(), key.second.c_str(), "", &err);
      const RunTimeServiceInfo *own =
          r.runtime_service ? &threads[t].run_time_services[r.service_id] : nullptr;
      ASSERT_EQ(own ? Pair(own->service_name, own->url) : key, key);
      ASSERT_EQ(r.runtime_service ? -1 : r.service_id, scan(run, key));
      records[t].push_back(r);
      keys[t].push_back(key);
    }
  }
  int16_t predefined = static_cast<int16_t>(run.services.num_service_file);
  for (int t = 0; t < 2; t++)
    ASSERT_TRUE(update_service_map_ptr(run, &threads[t], predefined, &err));
  // Each pair once in the table.
  for (int i = predefined; i < run.services.total_services; i++)
    ASSERT_EQ(scan(run, row(run, i)), i);
  for (int t = 0; t < 2; t++) {
    ASSERT_TRUE(
        remap_runtime_service_ids(run, &threads[t], records[t].data(), records[t].size(), &err));
    for (size_t q = 0; q < records[t].size(); q++)
      ASSERT_EQ(records[t][q].service_id, scan(run, keys[t][q])) << t << " " << q;
  }
}

// An index is not current for another table of as many rows (synced: built anew); one grown is.
TEST(ServiceIndex, KnowsATableReplacedUnderIt) {
  struct Row {
    const char *name, *url;
  };
  for (int32_t rows : {1, 3}) {
    Row old_rows[] = {{"A", "http://a"}, {"B", "http://b"}, {"C", "http://c"}, {"D", "http://d"}};
    Row new_rows[] = {{"X", "http://x"}, {"Y", "http://y"}, {"Z", "http://z"}};
    auto view = [](const Row *first, int32_t n) {
      return ServiceTableView{first, sizeof(Row), offsetof(Row, name), offsetof(Row, url), n};
    };
    ServiceIndex index{};
    Failure err;
    service_index_sync(&index, view(old_rows, rows), &err);
    EXPECT_TRUE(service_index_current(&index, view(old_rows, rows))) << rows;
    EXPECT_FALSE(service_index_current(&index, view(new_rows, rows))) << rows;
    service_index_sync(&index, view(old_rows, rows + 1), &err);
    EXPECT_EQ(service_index_find(&index, old_rows[rows].name, old_rows[rows].url), rows) << rows;
    service_index_sync(&index, view(new_rows, rows), &err);
    EXPECT_TRUE(service_index_current(&index, view(new_rows, rows))) << rows;
    EXPECT_EQ(service_index_find(&index, "X", "http://x"), 0) << rows;
    EXPECT_EQ(service_index_find(&index, "A", "http://a"), -1) << rows;
    service_index_free(&index);
  }
}

}  // namespace

#include "tools/replay_gen/service_index.h"

#include <gtest/gtest.h>
#include <stddef.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"
#include "tools/replay_gen/services/service_map.h"

namespace {

using namespace loader_test;
using Pair = std::pair<std::string, std::string>;

// Keys that differ from each other by little: equal names with other URLs,
// equal URLs with other names, prefixes, a trailing blank, letter case.
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

// A large table of near-equal and repeated keys, filled from the
// configuration and from two loader threads: every lookup, the merge and the
// remapped ids agree with a scan of the table.
TEST(ServiceIndexTest, LargeTableAgreesWithScan) {
  TestRun run;
  Failure err;
  uint64_t rng = 7;
  for (int i = 0; i < 1500; i++) {
    Pair key = near_key(next(&rng) % 8000);
    char *field[] = {const_cast<char *>("SERVICE_NAME"), key.first.data(),
                     const_cast<char *>("POST"), key.second.data()};
    ASSERT_TRUE(set_service(run, 4, field, &err));
  }
  for (int i = 0; i < 8000; i++) {
    Pair key = near_key(next(&rng) % 8000);
    ASSERT_EQ(get_service_idx(run, key.first.c_str(), key.second.c_str()), scan(run, key))
        << key.first << "|" << key.second;
  }

  // A pair of the table is found there, any other in the thread's own
  // list, which holds each pair once.
  TestThreads threads(run, 2, run.services.total_services);
  std::vector<SeqData> records[2];
  std::vector<Pair> keys[2];
  for (int t = 0; t < 2; t++) {
    for (int i = 0; i < 5000; i++) {
      Pair key = near_key(next(&rng) % 16000);
      SeqData r{};
      char type = 0;
      ASSERT_TRUE(get_and_save_runtime_service_data(
          run, &threads[t], key.first.c_str(), key.second.c_str(), "", &r.service_id, &type, &err));
      r.runtime_service = type == RUNTIME_SERVICE_ENTRY;
      const RunTimeServiceInfo *own =
          r.runtime_service ? &threads[t].run_time_services[r.service_id] : nullptr;
      ASSERT_EQ(own ? Pair(own->service_name, own->url) : key, key);
      ASSERT_EQ(r.runtime_service ? -1 : r.service_id, scan(run, key));
      records[t].push_back(r);
      keys[t].push_back(key);
    }
    std::set<Pair> own;
    for (int32_t j = 0; j < threads[t].total_runtime_service; j++)
      own.insert(
          {threads[t].run_time_services[j].service_name, threads[t].run_time_services[j].url});
    ASSERT_EQ(own.size(), static_cast<size_t>(threads[t].total_runtime_service));
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

// An index built over one table is not current for another table of as many
// rows, however few, and syncing to it builds it anew; a table that only grew
// keeps it.
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

#include "tools/replay_gen/sequencing/sequence_order.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <tuple>
#include <vector>

#include "tools/replay_gen/run_state.h"

namespace {

constexpr uint64_t kMin = 60000;

struct Rec {
  int64_t uid;
  uint64_t time;
};

// Loads recs into seq_data_arr in merge order (seq = position).
void load(RunState &run, const std::vector<Rec> &recs) {
  free(run.records.seq_data_arr);
  run.records.seq_data_arr = static_cast<SeqData *>(calloc(recs.size() + 1, sizeof(SeqData)));
  for (size_t i = 0; i < recs.size(); i++) {
    SeqData &r = run.records.seq_data_arr[i];
    r.uid = recs[i].uid, r.time_stamp = recs[i].time, r.seq = i;
    r.req_offset = static_cast<off_t>(1000 + i);
  }
  run.counters.g_valid_msgcount = recs.size();
}

std::vector<uint64_t> run_ordering(const std::vector<Rec> &recs, uint64_t window, int one_sort) {
  RunState run;
  load(run, recs);
  run.config.new_user_time = window, run.options.one_sort_algo = one_sort;
  testing::internal::CaptureStdout();
  Failure err;
  EXPECT_TRUE(sort_seq_array(run, run.counters.g_valid_msgcount, &err));
  testing::internal::GetCapturedStdout();
  std::vector<uint64_t> parents;
  for (size_t i = 0; i < recs.size(); i++) {
    const SeqData &r = run.records.seq_data_arr[i];  // in merge order, the rest untouched
    EXPECT_EQ(std::tie(r.seq, r.uid, r.time_stamp, r.req_offset),
              std::make_tuple(i, recs[i].uid, recs[i].time, static_cast<off_t>(1000 + i)));
    parents.push_back(r.parent_seq);
  }
  EXPECT_EQ(run.records.seq_data_arr_copy, nullptr);
  return parents;
}

TEST(Ordering, SessionsInBothOrderings) {
  const uint64_t t = 1796400309000, w = 30 * kMin;
  std::vector<Rec> ties;  // of one customer at one time: the first in the logs opens the session
  std::vector<uint64_t> tie_parents;
  for (int i = 0; i < 40; i++) {
    ties.push_back({i % 2 ? 7 : 8, t + (i < 20 ? 0 : 5)});
    tie_parents.push_back(i % 2);
  }
  struct Case {
    const char *name;
    std::vector<Rec> recs;
    uint64_t window;
    std::vector<uint64_t> parents;
  } cases[] = {
      {"inside the window", {{7, t}, {7, t + w - 1}}, w, {0, 0}},
      {"at the window end", {{7, t}, {7, t + w}}, w, {0, 1}},
      {"uid 0 is alone", {{0, t}, {0, t}, {0, t + 1}}, w, {0, 1, 2}},
      {"window 0", {{7, t}, {7, t + 5}, {8, t}}, 0, {0, 1, 2}},
      {"interleaved users",
       {{7, t + 40 * kMin}, {8, t + 5 * kMin}, {7, t}, {8, t + kMin}, {7, t + 20 * kMin}},
       w,
       {0, 3, 2, 3, 2}},
      {"negative uid", {{-5, t + 1}, {-5, t}, {5, t}}, w, {1, 1, 2}},
      {"fixed window, no idle timeout",
       {{9, t}, {9, t + 29 * kMin}, {9, t + 31 * kMin}, {9, t + 59 * kMin}, {9, t + 61 * kMin}},
       w,
       {0, 0, 2, 2, 4}},
      {"ties", ties, w, tie_parents},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(run_ordering(c.recs, c.window, 0), c.parents) << c.name << " (default)";
    EXPECT_EQ(run_ordering(c.recs, c.window, 1), c.parents) << c.name << " (-N)";
  }
}

// Equal times keep the logs' order; relative times count from the minimum, whatever the order.
TEST(Ordering, TimeOrderAndRelativeTimes) {
  RunState run;
  std::vector<Rec> many;
  for (int i = 0; i < 3000; i++) many.push_back({i, static_cast<uint64_t>(i % 3)});
  load(run, many);
  sort_seq_data_by_time(run, run.counters.g_valid_msgcount);
  for (uint64_t i = 1; i < run.counters.g_valid_msgcount; i++) {
    const SeqData &a = run.records.seq_data_arr[i - 1], &b = run.records.seq_data_arr[i];
    ASSERT_TRUE(a.time_stamp < b.time_stamp || (a.time_stamp == b.time_stamp && a.seq < b.seq))
        << i;
  }
  load(run, {{1, 5000}, {2, 3000}, {3, 9000}});
  update_timestamp_to_relative(run);
  const SeqData *r = run.records.seq_data_arr;
  EXPECT_EQ(std::make_tuple(r[0].time_stamp, r[1].time_stamp, r[2].time_stamp),
            std::make_tuple(2000u, 0u, 6000u));
}

}  // namespace

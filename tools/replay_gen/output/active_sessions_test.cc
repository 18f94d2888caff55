#include "tools/replay_gen/output/active_sessions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

// Against a map, through growths and removals: kept sessions are found, dropped ones not.
TEST(ActiveSessions, KeepsWhatItMustAndDropsByTime) {
  ActiveSessions t;
  std::map<uint64_t, ActiveSession> kept;
  uint64_t x = 88172645463325252u, now = 0, user = 0;
  const uint64_t window = 50;
  size_t most = 0;  // the most sessions kept at once
  for (int step = 0; step < 20000; step++) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    now += x % 3;
    drop_sessions_before(&t, now, window);
    for (auto it = kept.begin(); it != kept.end();)
      it = now - it->second.start >= window ? kept.erase(it) : std::next(it);
    // Keys are request numbers: mostly rising, with gaps.
    uint64_t key = static_cast<uint64_t>(step) * 7 + x % 5;
    if (!kept.count(key) && x % 4 != 0) {
      ActiveSession s{key, now, user++, static_cast<uint32_t>(x % 100),
                      static_cast<uint8_t>(x % 256)};
      add_session(&t, s);
      kept[key] = s;
      // The order of arrival does not keep the keys of dropped sessions.
      ASSERT_LE(t.order.size(), 2 * t.count + 1) << step;
    }
    ASSERT_EQ(t.count, kept.size()) << step;
    most = std::max(most, kept.size());
    uint64_t probe = (x >> 7) % (static_cast<uint64_t>(step) * 7 + 8);
    ActiveSession *found = find_session(&t, probe);
    auto it = kept.find(probe);
    ASSERT_EQ(found != nullptr, it != kept.end()) << step << " key " << probe;
    if (!found) continue;
    const ActiveSession &s = *found, &want = it->second;
    EXPECT_EQ(std::tie(s.start, s.user_no, s.num_req, s.vvm_id),
              std::tie(want.start, want.user_no, want.num_req, want.vvm_id));
  }
  EXPECT_GT(most, 30u);  // the table was well filled at times
  for (const auto &[key, s] : kept) ASSERT_TRUE(find_session(&t, key)) << key;
  drop_sessions_before(&t, now + window, window);
  EXPECT_EQ(t.count, 0u);
  EXPECT_FALSE(find_session(&t, kept.empty() ? 0 : kept.begin()->first));
}

// A window of 0 keeps nothing past its own time; an empty table finds nothing.
TEST(ActiveSessions, EmptyAndZeroWindow) {
  ActiveSessions t;
  EXPECT_FALSE(find_session(&t, 3));
  drop_sessions_before(&t, 10, 5);
  add_session(&t, ActiveSession{3, 10, 0, 1, 0});
  drop_sessions_before(&t, 10, 1);
  EXPECT_TRUE(find_session(&t, 3));
  drop_sessions_before(&t, 10, 0);
  EXPECT_FALSE(find_session(&t, 3));
}

}  // namespace

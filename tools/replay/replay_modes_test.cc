// The load modes' options and their plan: send times under a ramp, passes,
// copies, rate slots and user ids, and what is refused.
#include "tools/replay/replay_modes.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/replay/replay_options.h"
#include "tools/replay/replay_package.h"

namespace {

ReplayCommand parse(std::vector<const char *> args, ReplayOptions *o, std::string *error) {
  args.insert(args.begin(), {"vt_replay", "pkg", "--target", "127.0.0.1:1"});
  return parse_replay_options(static_cast<int>(args.size()), const_cast<char **>(args.data()), o,
                              error);
}

// Users of ids 7 and 9 whose requests span 0 to 800 ms and 100 to 1000 ms.
ReplayPackage package(uint64_t top_id = 9) {
  ReplayPackage p;
  p.dir = "pkg";
  p.users.resize(2);
  p.users[0].user_id = 7;
  p.users[0].last_ms = 800;
  p.users[1].user_id = top_id;
  p.users[1].first_ms = 100;
  p.users[1].last_ms = 1000;
  p.requests = 10;
  p.last_time_ms = 1000;
  return p;
}

ReplayPlan plan_of(std::vector<const char *> args, const ReplayPackage &p = package()) {
  ReplayOptions o;
  std::string error;
  EXPECT_EQ(parse(args, &o, &error), ReplayCommand::kRun) << error;
  ReplayPlan plan;
  EXPECT_TRUE(make_replay_plan(o.mode, o.speed, o.duration_s, p, &plan, &error)) << error;
  return plan;
}

TEST(ReplayModes, RampSpeedsAndSendTimes) {
  struct Case {
    std::vector<const char *> args;
    double elapsed_s, speed;    // the speed at elapsed_s
    double schedule_s, send_s;  // a schedule position and its send time
  } cases[] = {
      {{"--speed", "1:10@10m"}, 0, 1, 0, 0},
      {{"--speed", "1:10@10m"}, 300, 5.5, 975, 300},   // 300 s + 9/1200 * 300^2
      {{"--speed", "1:10@10m"}, 600, 10, 3300, 600},   // the ramp's end: (1 + 10) / 2 * 600
      {{"--speed", "1:10@10m"}, 900, 10, 4300, 700},   // held at 10x after it
      {{"--speed", "10:1@100s"}, 50, 5.5, 387.5, 50},  // slowing down
      {{"--speed", "2:2@0.5h"}, 10, 2, 30, 15},        // a ramp that stays
      {{"--speed", "2"}, 10, 2, 30, 15},
  };
  for (const Case &c : cases) {
    ReplayPlan plan = plan_of(c.args);
    std::string name = std::string(c.args[1]) + " at " + std::to_string(c.elapsed_s);
    EXPECT_DOUBLE_EQ(replay_speed_at(plan, c.elapsed_s), c.speed) << name;
    EXPECT_NEAR(replay_send_ns(plan, static_cast<int64_t>(c.schedule_s * 1e9)) / 1e9, c.send_s,
                1e-6)
        << name;
    EXPECT_NEAR(replay_schedule_at(plan, c.send_s), c.schedule_s, 1e-6) << name;
  }
}

TEST(ReplayModes, PassesCopiesSlotsAndUserIds) {
  ReplayPlan plan = plan_of({"--loop", "3", "--loop-gap", "0.5s", "--users", "x4"});
  EXPECT_EQ(plan.pass_ns, 1500000000);  // the last request at 1000 ms, and the gap
  EXPECT_EQ(plan.requests, 40u);
  // Pass 2, copy 1 of 4 of a user of 800 ms: a quarter of its session later.
  EXPECT_EQ(replay_schedule_ns(plan, 2, 1, 100, 800), 3000000000 + 100000000 + 200000000);
  EXPECT_EQ(replay_run_user_id(plan, 7, 0, 0), 7u);
  EXPECT_EQ(replay_run_user_id(plan, 7, 2, 1), 7u + 9 * 1000000000ull);
  // The last copy of the last pass: 2 * 1.5 s + 1 s + 3/4 of 900 ms.
  EXPECT_DOUBLE_EQ(plan.span_s, 4.675);
  // Ids of ten digits take a stride of ten digits more.
  EXPECT_EQ(plan_of({"--users", "x2"}, package(12345678901)).id_stride, 100000000000u);

  plan = plan_of({"--rate", "200/s", "--loop", "3", "--loop-gap", "1"});
  EXPECT_EQ(replay_slot_ns(plan, 500, 0), 2500000000);
  EXPECT_EQ(replay_slot_ns(plan, 500, 2), 4500000000);
  EXPECT_DOUBLE_EQ(plan.span_s, 29 / 200.0 + 2);
  // Until --duration: the passes begun by then.
  EXPECT_EQ(plan_of({"--loop", "inf", "--duration", "10", "--speed", "2"}).passes, 21u);
  EXPECT_EQ(plan_of({"--loop", "inf", "--duration", "10", "--rate", "5"}).passes, 6u);
}

TEST(ReplayModes, RefusedOptions) {
  struct Case {
    std::vector<const char *> args;
    const char *error;  // its beginning
  } cases[] = {
      {{"--loop", "0"}, "--loop 0: expected passes from 1 to 1000000, or inf"},
      {{"--loop", "1000001"}, "--loop 1000001: expected passes"},
      {{"--loop", "-1"}, "--loop -1: expected passes"},
      {{"--loop", "inf"}, "--loop inf needs --duration"},
      {{"--loop-gap", "2"}, "--loop-gap without --loop"},
      {{"--loop", "2", "--loop-gap", "1e8"}, "--loop-gap 1e8: expected seconds from 0 to 1e7"},
      {{"--loop", "2", "--shard", "0/2"}, "--loop and --shard: "},
      {{"--users", "4"}, "--users 4: expected xK"},
      {{"--users", "x0"}, "--users x0: expected xK"},
      {{"--users", "x1001"}, "--users x1001: 1001 copies of each user are more than the 1000"},
      {{"--rate", "0/s"}, "--rate 0/s: expected requests per second above 0 and at most 1000000"},
      {{"--rate", "1000001"}, "--rate 1000001: expected"},
      {{"--rate", "5/m"}, "--rate 5/m: expected"},
      {{"--rate", "5/s", "--speed", "2"}, "--rate and --speed: "},
      {{"--speed", "1:10@1m", "--rate", "5"}, "--rate and --speed: "},
      {{"--speed", "1:10"}, "--speed 1:10: a ramp is A:B@T"},
      {{"--speed", "0:10@1m"}, "--speed 0:10@1m: a ramp is A:B@T"},
      {{"--speed", "1:10@0"}, "--speed 1:10@0: T: expected seconds above 0"},
      {{"--speed", "1:10@5d"}, "--speed 1:10@5d: T: expected seconds"},
  };
  for (const Case &c : cases) {
    ReplayOptions o;
    std::string error;
    EXPECT_EQ(parse(c.args, &o, &error), ReplayCommand::kUsageError) << c.error;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

TEST(ReplayModes, PlansThatDoNotFit) {
  ReplayPackage many = package(), instant = package(), long_ago = package(),
                big_ids = package(1000000000000);
  many.users.resize(kMaxUserCopies / 1000 + 1);
  instant.last_time_ms = big_ids.last_time_ms = 0;
  long_ago.last_time_ms = 4000000000000;  // some 127 years
  struct Case {
    std::vector<const char *> args;
    const ReplayPackage *p;
    const char *error;  // a part of it
  } cases[] = {
      {{"--users", "x1000"}, &many, "times 1000 are more than the 16777216 users"},
      {{"--loop", "inf", "--duration", "5"}, &instant, "passes would take no time"},
      {{"--loop", "2"}, &long_ago, "under loop x2 would outlast 146 years"},
      {{"--speed", "1:0.5@1s"}, &long_ago, "under speed 1x to 0.5x over 1 s would outlast"},
      {{"--loop", "1000000", "--users", "x1000"}, &big_ids, "the run's user ids would pass 2^64"},
  };
  for (const Case &c : cases) {
    ReplayOptions o;
    std::string error;
    ASSERT_EQ(parse(c.args, &o, &error), ReplayCommand::kRun) << error;
    ReplayPlan plan;
    EXPECT_FALSE(make_replay_plan(o.mode, o.speed, o.duration_s, *c.p, &plan, &error)) << c.error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
  // The same packages in plainer modes fit.
  ReplayPlan plan;
  std::string error;
  EXPECT_TRUE(make_replay_plan(ReplayMode{}, 1, 0, long_ago, &plan, &error)) << error;
}

}  // namespace

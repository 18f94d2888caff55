#include "tools/replay_gen/driver/driver.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

TEST(DefaultWorkers, ClampedIntoWorkerTable) {
  struct Case {
    int cpus, workers;
  } cases[] = {{8, 16}, {1, 2}, {128, 256}, {129, 256}, {0, 1}, {-1, 1}};
  testing::internal::CaptureStdout();
  for (const Case &c : cases)
    EXPECT_EQ(clamp_default_num_vvm(LogGates{}, c.cpus), c.workers) << c.cpus;
  testing::internal::GetCapturedStdout();
}

// A step's lines tell times in whole minutes and seconds; each step's end
// takes its time off the estimate, which stops at 0. A clock set back during
// a step shows 0, not a time wrapped around.
TEST(StepLines, TimesInMinutesAndSecondsAndTheEstimateLeft) {
  struct Case {
    int64_t elapsed;
    const char *taken;
    uint64_t estimate_left;
  } cases[] = {{0, "0 minutes and 0 seconds", 100},   {59, "0 minutes and 59 seconds", 41},
               {60, "1 minutes and 0 seconds", 40},   {125, "2 minutes and 5 seconds", 0},
               {3600, "60 minutes and 0 seconds", 0}, {-5, "0 minutes and 0 seconds", 100}};
  for (const Case &c : cases) {
    RunState run;
    run.options.estimated_time = 100;
    testing::internal::CaptureStdout();
    show_end_step_info(run, 1000, 1000 + c.elapsed, "Completed Step2");
    show_step1_end_info(run, c.elapsed);
    std::string out = testing::internal::GetCapturedStdout();
    std::string taken = std::string("Time taken = ") + c.taken;
    EXPECT_NE(out.find("Completed Step2. Total good requests = 0." + taken + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(". " + taken + " \n"), std::string::npos) << out;
    EXPECT_EQ(run.options.estimated_time, c.estimate_left) << c.elapsed;
  }
  RunState run;
  run.options.estimated_time = 3725;
  run.counters.g_msgcount = 7;
  testing::internal::CaptureStdout();
  show_start_step_info(run, 0, "Starting Step2");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Starting Step2. Total requests = 7. Estimated Time = 62 minutes and 5 seconds\n\n");
}

// What each option sets, the bounds of -n and -i, and the last -i winning;
// the refusals past them in the end-to-end cases bad_option,
// negative_threads, long_config_name and safety_numbers.
TEST(Options, SetTheRunFlagsOrEndTheRun) {
  const std::string name_max(kConfigNameMax, 'c');
  struct Case {
    std::vector<std::string> args;
    std::string want;  // the flags, or the status and the message
  } cases[] = {
      {{}, "i0 f0 u1 N0 n0 p0 c0 d0/1/1 ''"},
      {{"-i", "a", "-f", "-u", "-N", "-n", "1024", "-p", "1", "-c", "7", "-d", "3", "-i", "b"},
       "i2 f1 u0 N1 n1024 p1 c7 d3/3/3 'b'"},
      {{"-n", "0", "-d", "-2", "-i", name_max},
       "i1 f0 u1 N0 n0 p0 c0 d-2/-2/-2 '" + name_max + "'"},
      {{"-n", "1025"},
       "-1 main:value given with -n(number of threads) is 1025; at most 1024 are allowed\n"},
      {{"-n", "32768"},
       "-1 main:value given with -n(number of threads) should be greater than 0\n\n"},
  };
  for (const Case &c : cases) {
    RunState run;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "vtu_replay_gen");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    int seen = 0;
    optind = 0;
    Outcome out = run_to_end([&](Failure *e) {
      return parse_options(run, static_cast<int>(argv.size()), argv.data(), &seen, e);
    });
    const RunOptions &o = run.options;
    auto n = [](const char *flag, long value) { return flag + std::to_string(value); };
    std::string got =
        out.status ? std::to_string(out.status) + " " + out.err
                   : n("i", seen) + n(" f", o.run_forcefully) + n(" u", o.svc_id_uses_svc_name) +
                         n(" N", o.one_sort_algo) + n(" n", o.g_num_thread) +
                         n(" p", o.do_parameterization) + n(" c", o.commentry_req_count) +
                         n(" d", run.log.debug_level) + n("/", run.log.info_level) +
                         n("/", run.log.error_level) + " '" + run.options.config_path + "'";
    EXPECT_EQ(got, c.want) << args.size();
  }
}

}  // namespace

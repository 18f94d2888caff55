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
  for (const Case &c : cases) EXPECT_EQ(clamp_default_num_vvm(c.cpus), c.workers) << c.cpus;
  testing::internal::GetCapturedStdout();
}

// What each option sets, the bounds of -n and -i, and the last -i winning;
// more in the end-to-end cases bad_option, negative_threads, long_config_name.
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
      {{"-n", "-1"}, "-1 main:value given with -n(number of threads) should be greater than 0\n\n"},
      {{"-n", "32768"},
       "-1 main:value given with -n(number of threads) should be greater than 0\n\n"},
      {{"-i", name_max + "c"},
       "-1 main:Config file name is 10000 characters long; at most 9999 are allowed.\n"},
  };
  for (const Case &c : cases) {
    run = RunState{};
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "vtu_replay_gen");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    static char file_name[kConfigNameSize];
    file_name[0] = '\0';
    int seen = 0;
    optind = 0;
    Outcome out = run_to_end(
        [&] { seen = parse_options(static_cast<int>(argv.size()), argv.data(), file_name); });
    const RunOptions &o = run.options;
    auto n = [](const char *flag, long value) { return flag + std::to_string(value); };
    std::string got = out.status ? std::to_string(out.status) + " " + out.err
                                 : n("i", seen) + n(" f", o.run_forcefully) +
                                       n(" u", o.svc_id_uses_svc_name) + n(" N", o.one_sort_algo) +
                                       n(" n", o.g_num_thread) + n(" p", o.do_parameterization) +
                                       n(" c", o.commentry_req_count) +
                                       n(" d", run.log.debug_level) + n("/", run.log.info_level) +
                                       n("/", run.log.error_level) + " '" + file_name + "'";
    EXPECT_EQ(got, c.want) << args.size();
  }
  run = RunState{};
}

}  // namespace

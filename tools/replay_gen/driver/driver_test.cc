#include "tools/replay_gen/driver/driver.h"

#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/replay_gen/driver/generate.h"
#include "tools/replay_gen/test_support.h"

namespace {

TEST(DefaultWorkers, ClampedIntoWorkerTable) {
  const std::pair<int, int> cases[] = {{8, 16}, {1, 2}, {128, 256}, {129, 256}, {0, 1}, {-1, 1}};
  testing::internal::CaptureStdout();
  for (auto [cpus, workers] : cases)
    EXPECT_EQ(clamp_default_num_vvm(LogGates{}, cpus), workers) << cpus;
  testing::internal::GetCapturedStdout();
}

// Times in minutes and seconds, taken off the estimate down to 0; a clock set back shows 0.
TEST(StepLines, TimesInMinutesAndSecondsAndTheEstimateLeft) {
  const std::tuple<int64_t, const char *, uint64_t> cases[] = {
      {0, "0 minutes and 0 seconds", 100},   {59, "0 minutes and 59 seconds", 41},
      {60, "1 minutes and 0 seconds", 40},   {125, "2 minutes and 5 seconds", 0},
      {3600, "60 minutes and 0 seconds", 0}, {-5, "0 minutes and 0 seconds", 100}};
  for (auto [elapsed, time_taken, estimate_left] : cases) {
    RunState run;
    run.options.estimated_time = 100;
    testing::internal::CaptureStdout();
    show_end_step_info(run, 1000, 1000 + elapsed, "Completed Step2");
    show_step1_end_info(run, elapsed);
    std::string out = testing::internal::GetCapturedStdout();
    std::string taken = std::string("Time taken = ") + time_taken;
    EXPECT_NE(out.find("Step2. Total good requests = 0." + taken + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find(". " + taken + " \n"), std::string::npos) << out;
    EXPECT_EQ(run.options.estimated_time, estimate_left) << elapsed;
  }
  RunState run;
  run.options.estimated_time = 3725;
  run.counters.g_msgcount = 7;
  testing::internal::CaptureStdout();
  show_start_step_info(run, 0, "Starting Step2");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Starting Step2. Total requests = 7. Estimated Time = 62 minutes and 5 seconds\n\n");
}

// What each option sets (or the failure), the bounds of -n and -i, and the last -i winning.
TEST(Options, SetTheRunFlagsOrEndTheRun) {
  const std::string name_max(kConfigNameMax, 'c');
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "i0 f0 u1 N0 n0 p0 c0 d0/1/1 ''"},
      {{"-i", "a", "-f", "-u", "-N", "-n", "1024", "-p", "1", "-c", "7", "-d", "3", "-i", "b"},
       "i2 f1 u0 N1 n1024 p1 c7 d3/3/3 'b'"},
      {{"-n", "0", "-d", "-2", "-i", name_max},
       "i1 f0 u1 N0 n0 p0 c0 d-2/-2/-2 '" + name_max + "'"},
      {{"-n", "1025"},
       "-1 main:value given with -n(number of threads) is 1025; at most 1024 are allowed\n"},
  };
  for (const auto &[given, want] : cases) {
    RunState run;
    std::vector<std::string> args = given;
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
    EXPECT_EQ(got, want) << args.size();
  }
}

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The bundled sample tree, its configuration, VT_WDIR and the suite's stand-ins on PATH.
class GenerateTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = make_temp_dir();
    wdir = dir + "/wdir";
    fs::create_directories(wdir + "/scenarios/demo/replay");
    fs::copy(VT_EXAMPLES "/logs", dir + "/logs", fs::copy_options::recursive);
    saved_path = getenv("PATH");
    setenv("PATH", (std::string(VT_SUITE_BIN) + ":" + saved_path).c_str(), 1);
    setenv("VT_WDIR", wdir.c_str(), 1);
    write_config(dir + "/replay");
  }
  void TearDown() override {
    setenv("PATH", saved_path.c_str(), 1);
    unsetenv("VT_WDIR");
    fs::remove_all(dir);
  }
  void write_config(const std::string &replay_dir, const std::string &type = "C") {
    write_text(dir + "/replay.conf",
               "INPUT_DIR|" + dir + "/logs\nREPLAY_DIR|" + replay_dir +
                   "\nSCRIPT_NAME|demo/replay/script\nSCENARIO_NAME|demo/replay/s.conf\n"
                   "NUM_VVM|2\nSCRIPT_TYPE|" +
                   type +
                   "\nSERVICE_NAME|IService_GetData|POST|http://127.0.0.1:8080/svc/"
                   "Service.svc|XACustId|NA|Content-Type: text/xml\n");
  }
  int generate_in(RunState &run, Mode mode, bool force = false) {
    run.log.quiet = true;
    run.options.config_path = dir + "/replay.conf";
    run.options.run_forcefully = force;
    run.options.commentry_req_count = 100000;
    run.options.num_cpu = 2;
    Failure err;
    return generate(run, mode, &err);
  }
  Lines dry_problems(bool force = false) {
    RunState run;
    generate_in(run, Mode::kDryRun, force);
    return run.dry.problems;
  }

  std::string dir, wdir, saved_path;
};

// Every stage runs in the run and in its dry run alike; the dry run writes nothing.
TEST_F(GenerateTest, EveryStageRunsInTheRunAndInTheDryRun) {
  std::vector<std::string> all;
  for (int i = 0; i < stage_count(); i++) all.push_back(stage_name(i));
  RunState dry, write;
  EXPECT_EQ(generate_in(dry, Mode::kDryRun), 0);
  EXPECT_EQ(dry.stages_done, all);
  EXPECT_EQ(dry.dry.problems, Lines{});
  EXPECT_FALSE(fs::exists(dir + "/replay"));
  EXPECT_EQ(generate_in(write, Mode::kWrite), 0);
  EXPECT_EQ(write.stages_done, all);
}

// What would stop the run comes back as its lines, every check run.
TEST_F(GenerateTest, ADryRunNotesWhatWouldFailTheRun) {
  const std::string there = " already exists (the run replaces it only with -f)";
  fs::create_directories(dir + "/replay");
  fs::create_directories(wdir + "/scripts/demo/replay/script");
  write_text(wdir + "/scenarios/demo/replay/s.conf", "");
  EXPECT_EQ(dry_problems(), (Lines{"Replay directory " + dir + "/replay" + there,
                                   "scenario " + wdir + "/scenarios/demo/replay/s.conf" + there,
                                   "script " + wdir + "/scripts/demo/replay/script" + there}));
  EXPECT_EQ(dry_problems(true), Lines{});

  // Under -f, a replay directory inside VT_WDIR or the input directory is refused.
  ASSERT_EQ(symlink(dir.c_str(), (dir + "/logs/link").c_str()), 0);
  for (std::string inside : {"wdir/scripts/demo", "logs/link"}) {
    write_config(dir + "/" + inside);
    EXPECT_EQ(
        dry_problems(true),
        Lines{"Replay directory " + dir + "/" + inside + " lies inside " +
              (inside[0] == 'w' ? "VT_WDIR " + wdir : "the input directory " + dir + "/logs") +
              " (the run refuses to delete it under -f)"})
        << inside;
  }
  write_config(dir + "/replay");
  unsetenv("VT_WDIR");
  Lines found = dry_problems(true);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].rfind("VT_WDIR is not set", 0), 0u) << found[0];
}

// Suite commands on PATH, where an empty entry is the current directory, executable only.
TEST_F(GenerateTest, ADryRunNotesSuiteCommandsMissingFromPath) {
  const std::string bin = dir + "/bin";
  for (const char *c : {"vtu_gen_cscript", "vti_get_page", "vtu_change_page_name"}) {
    write_text(bin + "/" + c, "");
    chmod((bin + "/" + c).c_str(), 0755);
  }
  const std::string cwd = fs::current_path();
  fs::current_path(bin);
  for (const char *path : {"/none:", ":/none", "/none::/none"}) {
    setenv("PATH", path, 1);
    EXPECT_EQ(dry_problems(), Lines{}) << path;
  }
  fs::current_path(cwd);
  setenv("PATH", bin.c_str(), 1);
  ASSERT_EQ(unlink((bin + "/vti_get_page").c_str()), 0);
  chmod((bin + "/vtu_change_page_name").c_str(), 0644);
  write_config(dir + "/replay", "Legacy");
  EXPECT_EQ(dry_problems(),
            Lines{"suite commands vtu_gen_script, vti_get_page and vtu_change_page_name are not on "
                  "PATH: install the suite's commands, or their stand-ins (the Debian package "
                  "vortan-replay-gen-standins, which make deb builds)"});
}

}  // namespace

#include "tools/replay_gen/driver/generate.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The bundled sample tree, a configuration for it, VT_WDIR with the
// scenario's directory, and the suite's stand-ins on PATH.
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
  // A fresh run of the configuration, its console quiet.
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

// A stage added to the list runs in the run and in its dry run alike; the
// dry run writes nothing.
TEST_F(GenerateTest, EveryStageRunsInTheRunAndInTheDryRun) {
  std::vector<std::string> all;
  for (int i = 0; i < stage_count(); i++) all.push_back(stage_name(i));
  RunState dry;
  EXPECT_EQ(generate_in(dry, Mode::kDryRun), 0);
  EXPECT_EQ(dry.stages_done, all);
  EXPECT_EQ(dry.dry.problems, Lines{});
  EXPECT_FALSE(fs::exists(dir + "/replay"));
  EXPECT_FALSE(fs::exists(wdir + "/scripts"));
  EXPECT_FALSE(fs::exists(wdir + "/scenarios/demo/replay/s.conf"));

  RunState write;
  EXPECT_EQ(generate_in(write, Mode::kWrite), 0);
  EXPECT_EQ(write.stages_done, all);
  EXPECT_TRUE(fs::exists(dir + "/replay/vt_index_0"));
  EXPECT_TRUE(fs::exists(wdir + "/scenarios/demo/replay/s.conf"));
}

// What would stop the run at its end comes back as its lines, the checks of
// what the configuration names all run (a stop on the way: preview_run.sh).
TEST_F(GenerateTest, ADryRunNotesWhatWouldFailTheRun) {
  const std::string there = " already exists (the run replaces it only with -f)";
  fs::create_directories(dir + "/replay");
  fs::create_directories(wdir + "/scripts/demo/replay/script");
  write_text(wdir + "/scenarios/demo/replay/s.conf", "");
  EXPECT_EQ(dry_problems(), (Lines{"Replay directory " + dir + "/replay" + there,
                                   "scenario " + wdir + "/scenarios/demo/replay/s.conf" + there,
                                   "script " + wdir + "/scripts/demo/replay/script" + there}));
  EXPECT_EQ(dry_problems(true), Lines{});

  // Under -f, a replay directory inside VT_WDIR, or a link inside the input
  // directory, is one the run would refuse to delete.
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

// The suite's commands are looked for on PATH, where an empty entry is the
// current directory; one not executable is not there.
TEST_F(GenerateTest, ADryRunNotesSuiteCommandsMissingFromPath) {
  const std::string bin = dir + "/bin";
  fs::create_directories(bin);
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

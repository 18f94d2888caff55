// The files the suite reads: the script (its generator, input and pages) and the scenario.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/core/failing_io_test_support.h"
#include "base/core/failing_spawn_test_support.h"
#include "base/core/shell_quote.h"
#include "tools/replay_gen/output/gen_input_file.h"
#include "tools/replay_gen/output/scenario.h"
#include "tools/replay_gen/output/script_gen.h"
#include "tools/replay_gen/test_support.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// Every fake logs its name and each argument in brackets, one call a line.
const char kLogCall[] =
    "#!/bin/sh\n{ printf '%s' \"$(basename \"$0\")\"; "
    "for a; do printf ' [%s]' \"$a\"; done; echo; } >>\"$FAKE_LOG\"\n";

// Fakes of the suite's commands first on PATH (the page listing prints FAKE_PAGES).
class SuiteFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = make_temp_dir();
    fs::create_directories(root_ + "/wdir/scripts");
    fs::create_directories(root_ + "/wdir/scenarios/proj/sub");
    setenv("VT_WDIR", (root_ + "/wdir").c_str(), 1);
    setenv("FAKE_LOG", (root_ + "/calls").c_str(), 1);
    setenv("FAKE_PAGES", (root_ + "/pages").c_str(), 1);
    old_path_ = getenv("PATH");
    write_fakes();
    setenv("PATH", (root_ + "/fakes:" + old_path_).c_str(), 1);
    snprintf(run.config.script_name, sizeof run.config.script_name, "proj/sub/my script");
    snprintf(run.config.script_type, sizeof run.config.script_type, "C");
    snprintf(run.script_input.vtu_gen_script_file_name,
             sizeof run.script_input.vtu_gen_script_file_name, "%s/gen input", root_.c_str());
    gen_ = run.script_input.vtu_gen_script_file_name;
    snprintf(run.config.scenario_name, sizeof run.config.scenario_name, "proj/sub/it's here.conf");
    run.workers.num_vvm = 4;
  }
  void TearDown() override {
    setenv("PATH", old_path_.c_str(), 1);
    unsetenv("VT_WDIR");
    remove_dir(root_);
  }
  void write_fake(const std::string &name, const std::string &body) {
    write_text(root_ + "/fakes/" + name, kLogCall + body);
    fs::permissions(root_ + "/fakes/" + name, fs::perms::owner_all);
  }
  void write_fakes() {
    for (const char *fake : {"vtu_gen_cscript", "vtu_gen_script", "vtu_change_page_name"})
      write_fake(fake, "");
    write_fake("vti_get_page", "cat \"$FAKE_PAGES\" 2>/dev/null\nexit 0\n");
  }
  void set_services(const Names &names) {
    for (int i = 0; i < run.services.total_services; i++)
      free(run.services.service_map_ptr[i].service_name);
    free(run.services.service_map_ptr);
    run.services.total_services = static_cast<uint16_t>(names.size());
    run.services.service_map_ptr =
        static_cast<ServiceMap *>(calloc(names.size() + 1, sizeof(ServiceMap)));
    for (size_t i = 0; i < names.size(); i++)
      run.services.service_map_ptr[i].service_name = strdup(names[i].c_str());
  }
  std::string script_path() const { return root_ + "/wdir/scripts/" + run.config.script_name; }
  std::string scenario() const { return root_ + "/wdir/scenarios/" + run.config.scenario_name; }
  std::string calls() const { return read_text(root_ + "/calls"); }
  // The generator's call and the page listing's.
  std::string gen_calls() const {
    return "vtu_gen_cscript [-s] [" + std::string(run.config.script_name) + "] [-f] [" + gen_ +
           "] [-r]\nvti_get_page [" + run.config.script_name + "]\n";
  }
  std::string rename_call(const std::string &from, const std::string &to) const {
    return "vtu_change_page_name [-s] [" + std::string(run.config.script_name) + "] [-p] [" + from +
           "] [-n] [" + to + "]\n";
  }
  // create_script on a fresh generator input, or create_scenario; standard output in out_.
  Outcome generate(bool (*make)(RunState &, Failure *) = create_script) {
    fs::remove(root_ + "/calls");
    write_text(gen_, "1 POST http://h/a A\n");
    testing::internal::CaptureStdout();
    Outcome o = run_to_end([&](Failure *e) { return make(run, e); });
    out_ = testing::internal::GetCapturedStdout();
    return o;
  }

  std::string root_, old_path_, out_, gen_;
  RunState run;
};

// Pages are renamed (as many as services only) through temporary names that clash with none.
TEST_F(SuiteFilesTest, RenameGoesThroughTemporaryNamesThatClashWithNothing) {
  const std::tuple<const char *, Names, std::string> cases[] = {
      {"p1\np2\np3\n", {"A", "B", "C"}, "AXXX,BXXX,CXXX"},
      {"p1\np2\np3", {"A", "B", "C"}, "AXXX,BXXX,CXXX"},
      {"p1\np2\n", {"A", "B", "C"}, ""},
      {"p1\n", {}, ""},
  };
  run.options.run_forcefully = 1;
  for (const auto &[pages, services, temp_names] : cases) {
    write_text(root_ + "/pages", pages);
    set_services(services);
    ASSERT_EQ(generate().err, "");
    std::string expected = gen_calls();
    if (!temp_names.empty())
      expected += rename_call("p1,p2,p3", temp_names) + rename_call(temp_names, "A,B,C");
    EXPECT_EQ(calls(), expected) << pages;
  }
  const std::tuple<Names, Names, const char *> suffixes[] = {
      {{"p1", "p2"}, {"A", "B"}, "XXX"},
      {{"p1", "OpXXX1"}, {"Op", "OpXXX"}, "XXX2"},
      {{"page_1", "page_2"}, {"AXXX", "A"}, "XXX1"},
      {{"p1", "p2"}, {"AX", "B"}, "XXX"},
      {{"AXXXX", "p2"}, {"AX", "B"}, "XXX1"},
      {{"AXXX01", "AXXX2", "AXXX-3"}, {"A", "B", "AXXX"}, "XXX1"},
      {{"GetQuote_1XXX", "p2"}, {"GetQuote_1", "GetQuote_1"}, "XXX1"},
  };
  for (const auto &[current, targets, suffix] : suffixes)
    EXPECT_EQ(pick_temporary_suffix(current, targets), suffix) << targets[0];
}

// Long lists go in calls near the limit; a short one is one call, up to its last byte.
TEST_F(SuiteFilesTest, LongListsSplitIntoCalls) {
  Names from, to;
  for (int i = 0; i < 10003; i++) {
    from.push_back("page_" + std::to_string(i + 1));
    to.push_back("Service_" + std::to_string(i) + "XXX");
  }
  auto command = [&](const std::string &f, const std::string &t) {
    return "vtu_change_page_name -s " + vtlb_shell_quote(run.config.script_name) + " -p " +
           vtlb_shell_quote(f) + " -n " + vtlb_shell_quote(t);
  };
  std::vector<RenameCall> calls = split_rename_lists(run, from, to, kMaxRenameCommand);
  EXPECT_GT(calls.size(), 2u);
  for (const RenameCall &c : calls) {
    size_t size = command(c.from, c.to).size();
    EXPECT_LE(size, kMaxRenameCommand);
    EXPECT_TRUE(&c == &calls.back() || size > kMaxRenameCommand - 100) << size;
  }
  for (std::string f : {"a", "a'b"}) {
    size_t exact = command(f + ",b", "c,d").size();
    EXPECT_EQ(split_rename_lists(run, {f, "b"}, {"c", "d"}, exact).size(), 1u) << f;
    EXPECT_EQ(split_rename_lists(run, {f, "b"}, {"c", "d"}, exact - 1).size(), 2u) << f;
  }
}

// An old script without -f, a suite command or removal that fails or cannot start: the run ends.
TEST_F(SuiteFilesTest, FailedCommandFailsTheRun) {
  run.config.suite_command_time_limit = 1;
  write_text(root_ + "/pages", "p1\n");
  set_services({"A"});
  const struct {
    int spawns;      // that go through before one fails; -1: none fails
    int old_script;  // 1: there, 2: there, and -f
    const char *fake, *body;
    std::string err;  // one ending with "*" is compared up to there
    int out;          // printed: nothing, "Generating", and "ERROR: popen failed" after it
  } cases[] = {
      {-1, 1, nullptr, nullptr, "{CS}Script '{SCRIPT}' already exist, Exiting ... !\n\n", 0},
      {-1, 0, "vtu_gen_cscript", "exit 1\n", "{CS}system(cmd) failed :{CMD}\n", 1},
      {-1, 0, "vtu_change_page_name", "exit 3\n", "{RN}Renaming {OF}exit status 3\n", 1},
      {-1, 0, "vti_get_page", "exit 1\n", "{RN}Listing {OF}exit status 1\n", 1},
      {-1, 0, "rm", "exit 1\n", "{CS}system(cmd_buf) failed:{DEL}:*", 1},
      {-1, 2, "rm", "exit 1\n", "{CS}system(rm -rf '{SCRIPT}') failed: {OLD}'{SCRIPT}'\n\n", 0},
      {-1, 0, "vtu_change_page_name", "kill -TERM $PPID\n", "{RN}Renaming {OF}ended by signal 15\n",
       1},
      {-1, 0, "vti_get_page", "cat \"$FAKE_PAGES\"; exec sleep 30\n",
       "{RN}Suite command vti_get_page 'proj/sub/my script' did not end within*", 1},
      {0, 2, nullptr, nullptr, "{CS}Fork/exec failed: {OLD}'{SCRIPT}':{WHY}\n", 0},
      {0, 0, nullptr, nullptr, "{CS}Fork/exec failed ({WHY}): {CMD}\n", 1},
      {1, 0, nullptr, nullptr, "{CS}Fork/exec failed:{DEL}: {WHY}\n", 1},
      {2, 0, nullptr, nullptr, "", 2},
      {3, 0, nullptr, nullptr, "{RN}Renaming {OF}the shell could not be run: {WHY}\n", 1},
  };
  const std::pair<std::string, std::string> parts[] = {
      {"{CS}", "create_script:"},
      {"{CMD}", "cmd that failed - vtu_gen_cscript -s 'proj/sub/my script' -f '{GEN}' -r"},
      {"{DEL}", "vtu_gen_script file '{GEN}' deletion error"},
      {"{OLD}", "Error in  deleting existing script "},
      {"{RN}", "rename_gen_file:"},
      {"{OF}", "the pages of script proj/sub/my script failed: "},
      {"{GEN}", gen_},
      {"{SCRIPT}", script_path()},
      {"{WHY}", "Resource temporarily unavailable"}};
  const std::string generating = "Generating scripts files in '" + script_path() + "' directory \n";
  for (const auto &c : cases) {
    std::string err = c.err;
    for (const auto &[from, to] : parts)
      for (size_t at; (at = err.find(from)) != std::string::npos;) err.replace(at, from.size(), to);
    run.options.run_forcefully = c.old_script == 2;
    if (c.old_script) write_text(script_path() + "/old_page", "x");
    if (c.fake) write_fake(c.fake, c.body);
    vt_fail_spawn_after(c.spawns);
    Outcome o = generate();
    vt_fail_spawn_after(-1);
    EXPECT_EQ(o.status, -1) << err;
    if (err.ends_with('*')) err.pop_back(), o.err.resize(std::min(o.err.size(), err.size()));
    EXPECT_EQ(o.err, err);
    EXPECT_EQ(out_, c.out == 0 ? "" : generating + (c.out == 2 ? "ERROR: popen failed\n" : ""));
    EXPECT_EQ(fs::exists(script_path() + "/old_page"), c.old_script != 0) << err;
    if (c.fake && std::string(c.fake) == "vtu_gen_cscript") {
      EXPECT_TRUE(fs::exists(gen_));
      EXPECT_EQ(calls().find("vti_get_page"), std::string::npos);
    }
    remove_dir(script_path());
    fs::remove(root_ + "/fakes/rm");
    write_fakes();
  }
  // A generator gone from PATH meanwhile: the failure says where to get it.
  setenv("PATH", (root_ + "/fakes").c_str(), 1);
  write_text(root_ + "/fakes/vtu_gen_cscript", "#!/bin/sh\n/bin/rm \"$0\"\nexit 127\n");
  EXPECT_NE(generate().err.find("\ncreate_script:Suite command vtu_gen_cscript is not on PATH"),
            std::string::npos);
  unsetenv("VT_WDIR");
  EXPECT_EQ(generate().err, "create_script:Error in getting script name proj/sub/my script\n");
}

// The generator's input of this pid, made new or over an earlier one's, empty, mode per the mask.
TEST(GenInputFile, MadeNewOrReplacingWhatAnEarlierProcessLeft) {
  std::string path = "/tmp/filename_" + std::to_string(getpid());
  mode_t mask = umask(002);
  for (bool left : {false, true}) {
    RunState run;
    if (left) write_text(path, "left by an earlier run\n");
    ASSERT_EQ(run_to_end([&](Failure *e) { return create_file_for_vtu_gen_script(run, e); }).status,
              0);
    EXPECT_EQ(run.script_input.vtu_gen_script_file_name, path);
    ASSERT_NE(run.script_input.vtu_gen_script_fp, nullptr) << left;
    fclose(run.script_input.vtu_gen_script_fp);
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << left;
    EXPECT_EQ(std::make_pair(st.st_size, st.st_mode & 07777), std::make_pair(off_t{0}, 0664u));
    unlink(path.c_str());
  }
  umask(mask);
}

// The keywords in place, mode per the mask; an existing scenario replaced only with -f, removed.
TEST_F(SuiteFilesTest, ScenarioWithKeywordsReplacedOnlyWithForce) {
  std::string keywords = "G_KA_PCT ALL 100\nG_SSL ALL 0\n";
  auto set_keywords = [&](const std::string &k) {
    free(run.config.scenario_keyword);
    run.config.scenario_keyword = k.empty() ? nullptr : strdup(k.c_str());
    run.config.scenario_keyword_len = static_cast<int32_t>(k.size());
  };
  set_keywords(keywords);
  mode_t mask = umask(002);
  ASSERT_EQ(generate(create_scenario).status, 0);
  umask(mask);
  const std::string first = read_text(scenario());
  EXPECT_NE(first.find("\n#PAGE_AS_TRANSACTION 1\n" + keywords + "\nNUM_VVM 4 MACHINE\n"),
            std::string::npos)
      << first;
  EXPECT_EQ(fs::status(scenario()).permissions(), fs::perms(0664));
  set_keywords("");
  EXPECT_EQ(generate(create_scenario).err,
            "create_scenario:Error: Scenario '" + scenario() + "' already exist! Exiting ...\n");
  EXPECT_EQ(read_text(scenario()), first);
  run.options.run_forcefully = 1;
  ASSERT_EQ(generate(create_scenario).status, 0);
  const std::string second = read_text(scenario());
  EXPECT_EQ(second.find(keywords), std::string::npos);
  write_fake("rm", "exit 1\n");
  set_keywords(keywords);
  const std::string deleting = "Error in deleting existing scenario file '" + scenario() + "'";
  for (bool spawn_fails : {false, true}) {
    vt_fail_spawn_after(spawn_fails ? 0 : -1);
    EXPECT_EQ(generate(create_scenario).text(),
              spawn_fails ? "-1create_scenario:Fork/exec failed:" + deleting +
                                ":Resource temporarily unavailable\n"
                          : "-1create_scenario:system(cmd) failed:" + deleting + "\n");
    EXPECT_EQ(out_, "");
    EXPECT_EQ(read_text(scenario()), second);
  }
  vt_fail_spawn_after(-1);
}

// A scenario not written whole, a missing VT_WDIR or scenario directory end the run.
TEST_F(SuiteFilesTest, ScenarioThatCannotBeMadeOrWrittenFailsTheRun) {
  const std::string writing = "-1create_scenario:Error in writing scenario '" + scenario() + "': ";
  vt_fail_close_of(scenario().c_str(), EIO, 1);  // a late write error
  EXPECT_EQ(generate(create_scenario).text(), writing + "Input/output error\n");
  vt_fail_close_of("", 0, 0);
  unlink(scenario().c_str());
  EXPECT_EQ(
      run_with_file_size_limit(200, [&](Failure *e) { return create_scenario(run, e); }).text(),
      writing + "File too large\n");
  unsetenv("VT_WDIR");
  EXPECT_EQ(generate(create_scenario).text(), "-1create_scenario:Error in getting the VT_WDIR\n");
  setenv("VT_WDIR", (root_ + "/wdir").c_str(), 1);
  snprintf(run.config.scenario_name, sizeof run.config.scenario_name, "proj/missing/a.conf");
  EXPECT_EQ(generate(create_scenario).text(), "-1create_scenario:Fopen():can not open scenario '" +
                                                  scenario() +
                                                  "' file:No such file or directory !\n");
}

}  // namespace

#include "tools/replay_gen/output/script_gen.h"

#include <string.h>

#include <vector>

#include "base/core/failing_fork_test_support.h"
#include "base/core/shell_quote.h"
#include "tools/replay_gen/output/output_test_util.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_support.h"

namespace {

namespace fs = std::filesystem;

// Every fake logs its name and each argument in brackets, one call a line.
const char kLogCall[] =
    "#!/bin/sh\n{ printf '%s' \"$(basename \"$0\")\"; "
    "for a; do printf ' [%s]' \"$a\"; done; echo; } >>\"$FAKE_LOG\"\n";

class ScriptGenTest : public testing::Test {
 protected:
  void SetUp() override {
    run = RunState{};
    root_ = make_temp_dir();
    fs::create_directories(root_ + "/wdir/scripts");
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
    run.script_input.vtu_gen_script_fp = fopen(run.script_input.vtu_gen_script_file_name, "w");
  }
  void TearDown() override {
    if (run.script_input.vtu_gen_script_fp) fclose(run.script_input.vtu_gen_script_fp);
    run.script_input.vtu_gen_script_fp = nullptr;
    setenv("PATH", old_path_.c_str(), 1);
    run = RunState{};
    fs::remove_all(root_);
  }

  void write_fake(const std::string &name, const std::string &body) {
    write_text(root_ + "/fakes/" + name, kLogCall + body);
    fs::permissions(root_ + "/fakes/" + name, fs::perms::owner_all);
  }
  // The fakes as they succeed: the listing prints FAKE_PAGES, if there is one.
  void write_fakes() {
    for (const char *fake : {"vtu_gen_cscript", "vtu_gen_script", "vtu_change_page_name"})
      write_fake(fake, "");
    write_fake("vti_get_page", "cat \"$FAKE_PAGES\" 2>/dev/null\nexit 0\n");
  }

  static void set_services(const std::vector<std::string> &names) {
    for (int i = 0; i < run.services.total_services; i++)
      free(run.services.service_map_ptr[i].service_name);
    free(run.services.service_map_ptr);
    run.services.total_services = static_cast<uint16_t>(names.size());
    run.services.service_map_ptr =
        names.empty() ? nullptr
                      : static_cast<ServiceMap *>(calloc(names.size(), sizeof(ServiceMap)));
    for (size_t i = 0; i < names.size(); i++)
      run.services.service_map_ptr[i].service_name = strdup(names[i].c_str());
  }

  std::string script_path() const { return root_ + "/wdir/scripts/" + run.config.script_name; }
  std::string calls() const { return read_text(root_ + "/calls"); }
  // The generator's call and the page listing's.
  std::string gen_calls(const char *generator) const {
    return std::string(generator) + " [-s] [" + run.config.script_name + "] [-f] [" +
           run.script_input.vtu_gen_script_file_name + "] [-r]\nvti_get_page [" +
           run.config.script_name + "]\n";
  }
  std::string rename_call(const std::string &from, const std::string &to) const {
    return "vtu_change_page_name [-s] [" + std::string(run.config.script_name) + "] [-p] [" + from +
           "] [-n] [" + to + "]\n";
  }
  // Runs create_script; its standard output goes to out_.
  Outcome generate() {
    fs::remove(root_ + "/calls");
    testing::internal::CaptureStdout();
    Outcome o = run_to_end(create_script);
    out_ = testing::internal::GetCapturedStdout();
    return o;
  }

  std::string root_, old_path_, out_;
};

// An existing script stops the run unless forced; the type picks the
// generator, and the generator's input file is removed.
TEST_F(ScriptGenTest, ScriptTypeSelectsGeneratorAndForceReplaces) {
  write_text(script_path() + "/old_page", "x");
  Outcome o = generate();
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "create_script:Script '" + script_path() + "' already exist, Exiting ... !\n\n");
  EXPECT_TRUE(fs::exists(script_path() + "/old_page"));
  EXPECT_FALSE(fs::exists(root_ + "/calls"));
  run.options.run_forcefully = 1;
  for (const char *type : {"C", "Legacy"}) {
    write_text(run.script_input.vtu_gen_script_file_name, "1 POST http://h/a A\n");
    snprintf(run.config.script_type, sizeof run.config.script_type, "%s", type);
    ASSERT_EQ(generate().err, "");
    EXPECT_FALSE(fs::exists(script_path()));
    EXPECT_EQ(calls(), gen_calls(*type == 'C' ? "vtu_gen_cscript" : "vtu_gen_script")) << type;
    EXPECT_FALSE(fs::exists(run.script_input.vtu_gen_script_file_name));
    EXPECT_EQ(run.script_input.vtu_gen_script_fp, nullptr);
    EXPECT_EQ(out_, "Generating scripts files in '" + script_path() +
                        "' directory \nScripts files in '" + script_path() +
                        "' directory generated successfully \n");
  }
}

// Pages are renamed through temporary names, and only when there are as
// many pages as services.
TEST_F(ScriptGenTest, RenameGoesThroughTemporaryNames) {
  struct Case {
    const char *pages;
    std::vector<std::string> services;
    std::string temp_names;
  } cases[] = {
      {"p1\np2\np3\n", {"A", "B", "C"}, "AXXX,BXXX,CXXX"},
      {"p1\np2\np3", {"A", "B", "C"}, "AXXX,BXXX,CXXX"},  // the last line's end left out
      {"p1\np2\n", {"A", "B", "C"}, ""},
      {"p1\n", {}, ""},
  };
  run.options.run_forcefully = 1;
  for (const Case &c : cases) {
    write_text(root_ + "/pages", c.pages);
    set_services(c.services);
    ASSERT_EQ(generate().err, "");
    std::string expected = gen_calls("vtu_gen_cscript");
    if (!c.temp_names.empty())
      expected += rename_call("p1,p2,p3", c.temp_names) + rename_call(c.temp_names, "A,B,C");
    EXPECT_EQ(calls(), expected) << c.pages;
  }
}

// Temporary names clash with no current or new name, so that every rename
// targets a free name; "XXX" stays where nothing clashes. (A whole run with
// such names: the end-to-end case safety_rename_clash.)
TEST_F(ScriptGenTest, TemporaryNamesClashWithNothing) {
  using V = std::vector<std::string>;
  EXPECT_EQ(pick_temporary_suffix({"p1", "p2"}, {"A", "B"}), "XXX");
  EXPECT_EQ(pick_temporary_suffix({"OpXXX", "Op"}, {"OpXXX", "Op"}), "XXX1");
  EXPECT_EQ(pick_temporary_suffix({"p1", "OpXXX1"}, {"Op", "OpXXX"}), "XXX2");
  EXPECT_EQ(pick_temporary_suffix(V{"page_1", "page_2"}, V{"AXXX", "A"}), "XXX1");
  EXPECT_EQ(pick_temporary_suffix(V{"p1", "p2"}, V{"AX", "B"}), "XXX");
  EXPECT_EQ(pick_temporary_suffix(V{"AXXXX", "p2"}, V{"AX", "B"}), "XXX1");
  EXPECT_EQ(pick_temporary_suffix(V{"AXXX01", "AXXX2", "AXXX-3"}, V{"A", "B", "AXXX"}), "XXX1");
  // A configured GetQuote_1 and a renamed second GetQuote share their name,
  // and so their temporary name: the choice ends all the same.
  EXPECT_EQ(pick_temporary_suffix(V{"p1", "p2", "p3"}, V{"GetQuote_1", "GetQuote", "GetQuote_1"}),
            "XXX");
  EXPECT_EQ(pick_temporary_suffix(V{"GetQuote_1XXX", "p2"}, V{"GetQuote_1", "GetQuote_1"}), "XXX1");
}

// Lists too long for one command line go in several calls, pair by pair in
// order; a short list is one call, up to the last byte the limit allows.
TEST_F(ScriptGenTest, LongListsSplitIntoCalls) {
  std::vector<std::string> from, to;
  std::string want_from, want_to;
  for (int i = 0; i < 10003; i++) {
    from.push_back("page_" + std::to_string(i + 1));
    to.push_back("Service_" + std::to_string(i) + "XXX");
    want_from += (i ? "," : "") + from.back();
    want_to += (i ? "," : "") + to.back();
  }
  std::vector<RenameCall> calls = split_rename_lists(from, to, kMaxRenameCommand);
  EXPECT_GT(calls.size(), 2u);
  std::string all_from, all_to;
  for (const RenameCall &c : calls) {
    std::string cmd = "vtu_change_page_name -s " + vtlb_shell_quote(run.config.script_name) +
                      " -p " + vtlb_shell_quote(c.from) + " -n " + vtlb_shell_quote(c.to);
    EXPECT_LE(cmd.size(), kMaxRenameCommand);
    if (&c != &calls.back()) {
      EXPECT_GT(cmd.size(), kMaxRenameCommand - 100);
    }
    all_from += (all_from.empty() ? "" : ",") + c.from;
    all_to += (all_to.empty() ? "" : ",") + c.to;
  }
  EXPECT_EQ(all_from, want_from);
  EXPECT_EQ(all_to, want_to);
  EXPECT_EQ(split_rename_lists({"a", "b"}, {"c", "d"}, kMaxRenameCommand).size(), 1u);
  for (auto [f, t] : {std::pair<std::string, std::string>{"a", "c"}, {"a'b", "c"}}) {
    std::vector<std::string> two_from = {f, "b"}, two_to = {t, "d"};
    size_t exact = ("vtu_change_page_name -s " + vtlb_shell_quote(run.config.script_name) + " -p " +
                    vtlb_shell_quote(f + ",b") + " -n " + vtlb_shell_quote(t + ",d"))
                       .size();
    EXPECT_EQ(split_rename_lists(two_from, two_to, exact).size(), 1u) << f;
    EXPECT_EQ(split_rename_lists(two_from, two_to, exact - 1).size(), 2u) << f;
  }
}

// A generator, page listing or renaming call that fails (by its exit
// status, by a signal, its shell's, or by outliving SUITE_COMMAND_TIME_LIMIT)
// or that cannot be started ends the run, and so does a removal that cannot
// be started. A failed generator leaves its input file and nothing is listed.
TEST_F(ScriptGenTest, FailedCommandEndsRun) {
  const std::string gen = run.script_input.vtu_gen_script_file_name;
  const std::string why = "Resource temporarily unavailable";
  const std::string generating = "Generating scripts files in '" + script_path() + "' directory \n";
  const std::string failed = " the pages of script proj/sub/my script failed: ";
  const std::string late =
      " did not end within the time limit of 1 s (SUITE_COMMAND_TIME_LIMIT); its process group "
      "was ended.\n";
  struct Case {
    int forks;  // before the one that fails; -1: none fails
    bool old_script;
    const char *fake, *body;  // a fake that fails, or none
    std::string err, out;
  } cases[] = {
      {-1, false, "vtu_gen_cscript", "exit 1\n",
       "create_script:system(cmd) failed :cmd that failed - vtu_gen_cscript -s "
       "'proj/sub/my script' -f '" +
           gen + "' -r\n",
       generating},
      {-1, false, "vtu_change_page_name", "exit 3\n",
       "rename_gen_file:Renaming" + failed + "exit status 3\n", generating},
      {-1, false, "vti_get_page", "exit 1\n",
       "rename_gen_file:Listing" + failed + "exit status 1\n", generating},
      // The removal of the generator's input fails (the system's error text
      // after it, whatever was set last, is not compared).
      {-1, false, "rm", "exit 1\n",
       "create_script:system(cmd_buf) failed:vtu_gen_script file '" + gen + "' deletion error:",
       generating},
      // and so does the removal of an old script under -f.
      {-1, true, "rm", "exit 1\n",
       "create_script:system(rm -rf '" + script_path() +
           "') failed: Error in  deleting existing script '" + script_path() + "'\n\n",
       ""},
      {-1, false, "vtu_change_page_name", "kill -TERM $PPID\n",
       "rename_gen_file:Renaming" + failed + "ended by signal 15\n", generating},
      {-1, false, "vti_get_page", "cat \"$FAKE_PAGES\"; exec sleep 30\n",
       "rename_gen_file:Suite command vti_get_page 'proj/sub/my script'" + late, generating},
      {-1, false, "vtu_change_page_name", "exec sleep 30\n",
       "rename_gen_file:Suite command vtu_change_page_name -s 'proj/sub/my script' -p 'p1' -n "
       "'AXXX'" +
           late,
       generating},
      {0, true, nullptr, nullptr,
       "create_script:Fork/exec failed: Error in  deleting existing script '" + script_path() +
           "':" + why + "\n",
       ""},
      {0, false, nullptr, nullptr,
       "create_script:Fork/exec failed (" + why +
           "): cmd that failed - vtu_gen_cscript -s 'proj/sub/my script' -f '" + gen + "' -r\n",
       generating},
      {1, false, nullptr, nullptr,
       "create_script:Fork/exec failed:vtu_gen_script file '" + gen + "' deletion error: " + why +
           "\n",
       generating},
      {2, false, nullptr, nullptr, "", generating + "ERROR: popen failed\n"},
      {3, false, nullptr, nullptr,
       "rename_gen_file:Renaming" + failed + "the shell could not be run: " + why + "\n",
       generating},
  };
  run.config.suite_command_time_limit = 1;
  write_text(root_ + "/pages", "p1\n");
  set_services({"A"});
  for (const Case &c : cases) {
    run.options.run_forcefully = c.old_script;
    if (c.old_script) write_text(script_path() + "/old_page", "x");
    write_text(gen, "1 POST http://h/a A\n");
    if (c.fake) write_fake(c.fake, c.body);
    vt_fail_fork_after(c.forks);
    Outcome o = generate();
    vt_fail_fork_after(-1);
    EXPECT_EQ(o.status, -1) << c.err;
    EXPECT_EQ(c.err.ends_with(':') ? o.err.substr(0, c.err.size()) : o.err, c.err);
    EXPECT_EQ(out_, c.out) << c.err;
    EXPECT_EQ(fs::exists(script_path() + "/old_page"), c.old_script) << c.err;
    if (c.fake && std::string(c.fake) == "vtu_gen_cscript") {
      EXPECT_TRUE(fs::exists(gen));
      EXPECT_EQ(calls().find("vti_get_page"), std::string::npos);
    }
    fs::remove_all(script_path());
    fs::remove(root_ + "/fakes/rm");
    write_fakes();
  }
  // A generator gone from PATH while the run went on: the failure says where
  // to get it.
  setenv("PATH", (root_ + "/fakes").c_str(), 1);
  write_text(root_ + "/fakes/vtu_gen_cscript", "#!/bin/sh\n/bin/rm \"$0\"\nexit 127\n");
  write_text(gen, "1 POST http://h/a A\n");
  EXPECT_EQ(generate().err,
            "create_script:system(cmd) failed :cmd that failed - vtu_gen_cscript -s "
            "'proj/sub/my script' -f '" +
                gen +
                "' -r\ncreate_script:Suite command vtu_gen_cscript is not on PATH: install the "
                "suite's commands, or their stand-ins (the Debian package "
                "vortan-replay-gen-standins, which make deb builds)\n");
  unsetenv("VT_WDIR");
  EXPECT_EQ(generate().err, "create_script:Error in getting script name proj/sub/my script\n");
}

}  // namespace

#include "tools/replay_gen/output/script_gen.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/core/group_cmd.h"
#include "base/core/shell_cmd.h"
#include "base/core/shell_quote.h"
#include "base/core/suite_commands.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

const char kFname[] = "create_script";

std::string script_path() {
  const char *wdir = getenv("VT_WDIR");
  if (!wdir) {
    error_log(1, kFname, "Error in getting script name %s", run.config.script_name);
    vt_exit(-1);
  }
  std::string path = std::string(wdir) + "/scripts/" + run.config.script_name;
  if (run.log.debug_level) debug_log(4, kFname, "Method called script_path is = %s", path.c_str());
  return path;
}

bool script_exists(const std::string &path) {
  DIR *dir = opendir(path.c_str());
  if (!dir) return false;
  closedir(dir);
  return true;
}

void remove_existing_script(const std::string &path) {
  if (!run.options.run_forcefully) {
    error_log(1, kFname, "Script '%s' already exist, Exiting ... !\n", path.c_str());
    vt_exit(-1);
  }
  std::string cmd = "rm -rf " + vtlb_shell_quote(path);
  int rc = vtlb_run_shell_cmd(cmd);
  if (run.log.debug_level) debug_log(1, kFname, "Return value of system() is = %d", rc);
  if (rc == -1) {
    error_log(1, kFname, "Fork/exec failed: Error in  deleting existing script '%s':%s",
              path.c_str(), strerror(errno));
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(rc)) {
    error_log(1, kFname, "system(%s) failed: Error in  deleting existing script '%s'\n",
              cmd.c_str(), path.c_str());
    vt_exit(-1);
  }
  if (run.log.debug_level)
    debug_log(2, kFname, "Existing Script '%s' deleted as -f option was used. \n", path.c_str());
}

// Reports, as fname, the suite commands of the run that are not on PATH
// with where to get them; false when there is none.
bool report_missing_suite_commands(const char *fname) {
  std::vector<std::string> missing = vtlb_missing_suite_commands(run.config.script_type);
  if (missing.empty()) return false;
  std::string text = vtlb_missing_suite_commands_text(missing);
  text[0] = 'S';  // the tool's messages begin with a capital
  error_log(1, fname, "%s", text.c_str());
  return true;
}

// Runs a suite command in a process group of its own within the configured
// time limit (its output read into *output when given) and returns its wait
// status, or -1 with errno set when the shell could not be run. A command
// that outlives the limit is ended with its whole group, and so is the run.
int run_suite_command(const std::string &cmd, const char *fname, std::string *output = nullptr) {
  GroupCmdResult r = vtlb_run_group_cmd(cmd, run.config.suite_command_time_limit, output);
  if (r.timed_out) {
    error_log(1, fname,
              "Suite command %s did not end within the time limit of %lld s "
              "(SUITE_COMMAND_TIME_LIMIT); its process group was ended.",
              cmd.c_str(), static_cast<long long>(run.config.suite_command_time_limit));
    vt_exit(-1);
  }
  if (r.status == -1) errno = r.error;
  return r.status;
}

// The generator command for script_type: "C" selects the C script generator.
std::string generator_cmd() {
  const char *generator =
      strcmp(run.config.script_type, "C") == 0 ? "vtu_gen_cscript" : "vtu_gen_script";
  if (run.log.debug_level) {
    debug_log(1, kFname, "%s is generating the script file...", generator);
    debug_log(1, kFname, "script_name = %s, %s_file_name =  %s", run.config.script_name, generator,
              run.script_input.vtu_gen_script_file_name);
  }
  return std::string(generator) + " -s " + vtlb_shell_quote(run.config.script_name) + " -f " +
         vtlb_shell_quote(run.script_input.vtu_gen_script_file_name) + " -r";
}

void run_generator() {
  std::string cmd = generator_cmd();
  int rc = run_suite_command(cmd, kFname);
  if (rc == -1) {
    error_log(1, kFname, "Fork/exec failed (%s): cmd that failed - %s", strerror(errno),
              cmd.c_str());
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(rc)) {
    error_log(1, kFname, "system(cmd) failed :cmd that failed - %s", cmd.c_str());
    report_missing_suite_commands(kFname);
    vt_exit(-1);
  }
}

// "exit status N", "ended by signal N" or the system's reason a command did
// not run. A command that ran has exited or was ended by a signal: the wait
// does not report stopped ones.
std::string describe_status(int rc) {
  if (rc == -1) return std::string("the shell could not be run: ") + strerror(errno);
  if (WIFEXITED(rc)) return "exit status " + std::to_string(WEXITSTATUS(rc));
  return "ended by signal " + std::to_string(WTERMSIG(rc));
}

void remove_generator_input() {
  int rc =
      vtlb_run_shell_cmd("rm -rf " + vtlb_shell_quote(run.script_input.vtu_gen_script_file_name));
  if (rc == -1) {
    error_log(1, kFname, "Fork/exec failed:vtu_gen_script file '%s' deletion error: %s",
              run.script_input.vtu_gen_script_file_name, strerror(errno));
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(rc)) {
    error_log(1, kFname, "system(cmd_buf) failed:vtu_gen_script file '%s' deletion error:%s",
              run.script_input.vtu_gen_script_file_name, strerror(errno));
    vt_exit(-1);
  }
}

// The generated script's page names, in page order.
std::vector<std::string> current_page_names() {
  std::string cmd = "vti_get_page " + vtlb_shell_quote(run.config.script_name);
  std::string listing;
  int rc = run_suite_command(cmd, "rename_gen_file", &listing);
  if (rc == -1) {
    printf("ERROR: popen failed\n");  // on standard output, outside the gates
    vt_exit(-1);
  }
  // One name a line; a last line without its line end counts too.
  std::vector<std::string> names;
  for (size_t at = 0; at < listing.size();) {
    size_t end = std::min(listing.find('\n', at), listing.size());
    names.push_back(listing.substr(at, end - at));
    at = end + 1;
  }
  if (vtlb_shell_cmd_failed(rc)) {
    error_log(1, "rename_gen_file", "Listing the pages of script %s failed: %s",
              run.config.script_name, describe_status(rc).c_str());
    report_missing_suite_commands("rename_gen_file");
    vt_exit(-1);
  }
  return names;
}

void change_page_names(const std::string &from, const std::string &to) {
  std::string cmd = "vtu_change_page_name -s " + vtlb_shell_quote(run.config.script_name) + " -p " +
                    vtlb_shell_quote(from) + " -n " + vtlb_shell_quote(to);
  int rc = run_suite_command(cmd, "rename_gen_file");
  if (rc == -1 && run.log.debug_level) debug_log(1, "rename_gen_file", "system() call failed");
  if (rc == -1 || vtlb_shell_cmd_failed(rc)) {
    error_log(1, "rename_gen_file", "Renaming the pages of script %s failed: %s",
              run.config.script_name, describe_status(rc).c_str());
    report_missing_suite_commands("rename_gen_file");
    vt_exit(-1);
  }
}

// Renames from[i] to to[i] for every i, in as few calls as keep each
// command line within kMaxRenameCommand bytes.
void rename_in_calls(const std::vector<std::string> &from, const std::vector<std::string> &to) {
  for (const RenameCall &call : split_rename_lists(from, to, kMaxRenameCommand))
    change_page_names(call.from, call.to);
}

}  // namespace

std::string pick_temporary_suffix(const std::vector<std::string> &current,
                                  const std::vector<std::string> &targets) {
  // Suffix k is "XXX" for k = 0 and "XXX<k>" after. A name clashes with k
  // when it is some target followed by that suffix: each name blocks at most
  // one k per way of reading it so, and the smallest k left free is taken.
  // Two services may end with one name; their temporary names are then the
  // same too, as their final names are, so only other names are avoided.
  std::unordered_set<std::string_view> target_set(targets.begin(), targets.end());
  std::unordered_set<std::string_view> taken(current.begin(), current.end());
  taken.insert(targets.begin(), targets.end());
  std::unordered_set<size_t> blocked;
  for (std::string_view name : taken) {
    for (size_t at = name.find("XXX"); at != std::string_view::npos;
         at = name.find("XXX", at + 1)) {
      std::string_view digits = name.substr(at + 3);
      size_t k = 0;
      if (!digits.empty()) {
        // Only the digits to_string writes: no sign, no leading zero.
        if (digits[0] == '0' || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
          continue;
        k = static_cast<size_t>(std::stoul(std::string(digits)));
      }
      if (target_set.count(name.substr(0, at))) blocked.insert(k);
    }
  }
  size_t k = 0;
  while (blocked.count(k)) k++;
  return k == 0 ? "XXX" : "XXX" + std::to_string(k);
}

std::vector<RenameCall> split_rename_lists(const std::vector<std::string> &from,
                                           const std::vector<std::string> &to, size_t max_command) {
  // The fixed part of the command: the script name, options and the quotes
  // of both lists (4), less the two commas the first pair goes without.
  const size_t fixed = strlen("vtu_change_page_name -s  -p  -n ") +
                       vtlb_shell_quote(run.config.script_name).size() + 4 - 2;
  std::vector<RenameCall> calls;
  RenameCall call;
  size_t used = fixed;
  for (size_t i = 0; i < from.size() && i < to.size(); i++) {
    // Quoting can only lengthen a name (a quote takes 4 bytes).
    size_t need = vtlb_shell_quote(from[i]).size() + vtlb_shell_quote(to[i]).size() - 2;
    if (!call.from.empty() && used + need > max_command) {
      calls.push_back(call);
      call = RenameCall();
      used = fixed;
    }
    if (!call.from.empty()) {
      call.from += ',';
      call.to += ',';
    }
    call.from += from[i];
    call.to += to[i];
    used += need;
  }
  if (!call.from.empty() || calls.empty()) calls.push_back(call);
  return calls;
}

void rename_gen_file() {
  if (run.log.debug_level) debug_log(4, "rename_gen_file", "Method called");
  std::vector<std::string> current = current_page_names();
  if (run.services.total_services == 0 || current.size() != run.services.total_services) return;
  std::vector<std::string> targets, temporary;
  for (int i = 0; i < run.services.total_services; i++)
    targets.push_back(run.services.service_map_ptr[i].service_name);
  // Temporary names that no page carries or is to carry: every rename of the
  // first round and of the second targets a free name, in any order of calls.
  std::string suffix = pick_temporary_suffix(current, targets);
  for (const std::string &t : targets) temporary.push_back(t + suffix);
  rename_in_calls(current, temporary);
  rename_in_calls(temporary, targets);
}

void require_suite_commands() {
  if (report_missing_suite_commands("require_suite_commands")) vt_exit(-1);
}

void create_script() {
  if (run.script_input.vtu_gen_script_fp) {
    int rc = fclose(run.script_input.vtu_gen_script_fp);
    run.script_input.vtu_gen_script_fp = nullptr;
    if (rc != 0) {
      error_log(1, kFname, "Error in writing file '%s': %s",
                run.script_input.vtu_gen_script_file_name, strerror(errno));
      vt_exit(-1);
    }
  }
  std::string path = script_path();
  if (script_exists(path)) remove_existing_script(path);
  // The script lines are printed whatever the log gates say.
  printf("Generating scripts files in '%s' directory \n", path.c_str());
  run_generator();
  remove_generator_input();
  set_interrupt_gen_input(nullptr);
  rename_gen_file();
  if (run.log.debug_level) debug_log(2, kFname, "script pages renamed");
  printf("Scripts files in '%s' directory generated successfully \n", path.c_str());
}

#include "tools/replay_gen/output/script_gen.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/core/shell_cmd.h"
#include "base/core/shell_quote.h"
#include "tools/replay_gen/fatal.h"
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
  int rc = vtlb_run_shell_cmd(cmd);
  if (rc == -1) {
    error_log(1, kFname, "Fork/exec failed (%s): cmd that failed - %s", strerror(errno),
              cmd.c_str());
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(rc)) {
    error_log(1, kFname, "system(cmd) failed :cmd that failed - %s", cmd.c_str());
    vt_exit(-1);
  }
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
  fflush(nullptr);
  FILE *pipe = popen(cmd.c_str(), "r");
  if (!pipe) {
    printf("ERROR: popen failed\n");
    vt_exit(-1);
  }
  std::vector<std::string> names;
  char *line = nullptr;
  size_t room = 0;
  ssize_t len;
  while ((len = getline(&line, &room, pipe)) > 0) {
    if (line[len - 1] == '\n') len--;
    names.emplace_back(line, static_cast<size_t>(len));
  }
  free(line);
  pclose(pipe);
  return names;
}

// The shell gets a command as one argument, and the system refuses an
// argument of more than 128 KiB: a longer rename command would not run.
constexpr size_t kMaxCommandSize = 128 * 1024 - 1;

// What a name adds to a quoted, comma-separated list: itself with its
// quotes escaped, and a comma.
size_t quoted_size(const std::string &name) {
  size_t size = name.size() + 1;
  for (char c : name)
    if (c == '\'') size += 3;
  return size;
}

std::string joined(const std::vector<std::string> &names, size_t begin, size_t end) {
  std::string list;
  for (size_t i = begin; i < end; i++) {
    if (i > begin) list += ',';
    list += names[i];
  }
  return list;
}

void change_page_names(const std::string &from, const std::string &to) {
  std::string cmd = "vtu_change_page_name -s " + vtlb_shell_quote(run.config.script_name) + " -p " +
                    vtlb_shell_quote(from) + " -n " + vtlb_shell_quote(to);
  if (vtlb_run_shell_cmd(cmd) == -1) {
    if (run.log.debug_level) debug_log(1, "rename_gen_file", "system() call failed");
    vt_exit(-1);
  }
}

// Renames page from[k] to to[k] for every k: in one command, or, when the
// lists make it too long, in as few commands as fit, in list order.
void change_page_names(const std::vector<std::string> &from, const std::vector<std::string> &to) {
  size_t fixed = strlen("vtu_change_page_name -s  -p '' -n ''") +
                 vtlb_shell_quote(run.config.script_name).size();
  for (size_t begin = 0, end; begin < from.size(); begin = end) {
    size_t size = fixed + quoted_size(from[begin]) + quoted_size(to[begin]);
    for (end = begin + 1; end < from.size(); end++) {
      size_t more = quoted_size(from[end]) + quoted_size(to[end]);
      if (size + more > kMaxCommandSize) break;
      size += more;
    }
    change_page_names(joined(from, begin, end), joined(to, begin, end));
  }
}

}  // namespace

void rename_gen_file() {
  if (run.log.debug_level) debug_log(4, "rename_gen_file", "Method called");
  std::vector<std::string> current = current_page_names();
  if (run.services.total_services == 0 || current.size() != run.services.total_services) return;
  std::vector<std::string> temporary, final_names;
  for (int i = 0; i < run.services.total_services; i++) {
    final_names.push_back(run.services.service_map_ptr[i].service_name);
    temporary.push_back(final_names.back() + "XXX");
  }
  // Every page has its temporary name before any page takes its new one.
  change_page_names(current, temporary);
  change_page_names(temporary, final_names);
}

void create_script() {
  if (run.script_input.vtu_gen_script_fp) {
    fclose(run.script_input.vtu_gen_script_fp);
    run.script_input.vtu_gen_script_fp = nullptr;
  }
  std::string path = script_path();
  if (script_exists(path)) remove_existing_script(path);
  printf("Generating scripts files in '%s' directory \n", path.c_str());
  run_generator();
  remove_generator_input();
  rename_gen_file();
  if (run.log.debug_level) debug_log(2, kFname, "script pages renamed");
  printf("Scripts files in '%s' directory generated successfully \n", path.c_str());
}

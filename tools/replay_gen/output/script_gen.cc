#include "tools/replay_gen/output/script_gen.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

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

// The generated script's page names as one comma-separated list, with the
// number of pages listed.
std::string current_page_names(int *count) {
  std::string cmd = "vti_get_page " + vtlb_shell_quote(run.config.script_name);
  fflush(nullptr);
  FILE *pipe = popen(cmd.c_str(), "r");
  if (!pipe) {
    printf("ERROR: popen failed\n");  // on standard output, outside the gates
    vt_exit(-1);
  }
  std::string names;
  *count = 0;
  char *line = nullptr;
  size_t room = 0;
  ssize_t len;
  while ((len = getline(&line, &room, pipe)) > 0) {
    if (line[len - 1] == '\n') len--;
    names.append(line, static_cast<size_t>(len));
    names += ',';
    (*count)++;
  }
  free(line);
  pclose(pipe);
  if (!names.empty()) names.pop_back();
  return names;
}

void change_page_names(const std::string &from, const std::string &to) {
  std::string cmd = "vtu_change_page_name -s " + vtlb_shell_quote(run.config.script_name) + " -p " +
                    vtlb_shell_quote(from) + " -n " + vtlb_shell_quote(to);
  if (vtlb_run_shell_cmd(cmd) == -1) {
    if (run.log.debug_level) debug_log(1, "rename_gen_file", "system() call failed");
    vt_exit(-1);
  }
}

}  // namespace

void rename_gen_file() {
  if (run.log.debug_level) debug_log(4, "rename_gen_file", "Method called");
  int count = 0;
  std::string current = current_page_names(&count);
  if (run.services.total_services == 0 || count != run.services.total_services) return;
  std::string temporary, final_names;
  for (int i = 0; i < run.services.total_services; i++) {
    if (i) {
      final_names += ',';
      temporary += ',';
    }
    final_names += run.services.service_map_ptr[i].service_name;
    temporary += run.services.service_map_ptr[i].service_name;
    temporary += "XXX";
  }
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
  // The script lines are printed whatever the log gates say.
  printf("Generating scripts files in '%s' directory \n", path.c_str());
  run_generator();
  remove_generator_input();
  rename_gen_file();
  if (run.log.debug_level) debug_log(2, kFname, "script pages renamed");
  printf("Scripts files in '%s' directory generated successfully \n", path.c_str());
}

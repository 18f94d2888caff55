// The replay directory: created empty when its line is read.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/core/shell_cmd.h"
#include "base/core/shell_quote.h"
#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config_value.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

// The path as one shell word; a leading "-" is kept from reading as an option.
std::string shell_path(const char *path) {
  if (path[0] == '-') return vtlb_shell_quote(std::string("./") + path);
  return vtlb_shell_quote(path);
}

}  // namespace

void create_dir(const char *name, const char *dir_name) {
  if (run.log.debug_level)
    debug_log(2, "create_dir", "Creating %s directory named as :%s.\n", name, dir_name);
  int status = vtlb_run_shell_cmd("mkdir -p -m 0777 " + shell_path(dir_name));
  if (status == -1) {
    error_log(1, "create_dir", "Error in creating %s dir '%s': %s\n", name, dir_name,
              strerror(errno));
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(status)) {
    error_log(1, "create_dir", "system(create_cmd) failed : Error in creating %s dir '%s'\n", name,
              dir_name);
    vt_exit(-1);
  }
}

void delete_dir(const char *name, const char *dir_name) {
  int status = vtlb_run_shell_cmd("rm -rf  " + shell_path(dir_name));
  if (run.log.debug_level) debug_log(4, "delete_dir", "return status of system() is = %d", status);
  if (status == -1) {
    error_log(1, "delete_dir", "Error in deleting dir '%s': %s", dir_name, strerror(errno));
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(status)) {
    error_log(1, "delete_dir", "system(delete_cmd) failed : Error in deleting dir '%s'", dir_name);
    vt_exit(-1);
  }
  if (run.log.debug_level)
    debug_log(2, "delete_dir", "Existing %s directory '%s' deleted as -f option was used.", name,
              dir_name);
}

void set_replay_dir(const char *in_replay_dir) {
  if (run.log.debug_level)
    debug_log(4, "set_replay_dir", "Method Called. replay_dir = %s", in_replay_dir);
  copy_config_value(run.config.replay_dir, kTextBufSize, in_replay_dir, "REPLAY_DIR",
                    "set_replay_dir");
  // A dry run leaves the directory as it is; its caller checks it.
  if (run.options.dry_run) return;
  if (DIR *dir = opendir(in_replay_dir)) {
    closedir(dir);
    if (!run.options.run_forcefully) {
      error_log(1, "set_replay_dir", "Replay directory %s already exists.\n", in_replay_dir);
      vt_exit(-1);
    }
    delete_dir("Replay", in_replay_dir);
  }
  create_dir("Replay", in_replay_dir);
}

#include "tools/replay_gen/output/gen_input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/core/safe_file.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

namespace {

const char kFname[] = "create_file_for_vtu_gen_script";

// The file is made new, never through a symbolic link. A regular file of
// this user under the name is one an earlier process of the same id left
// behind: it is replaced. Anything else there is refused.
int create_generator_input(const char *path) {
  int fd = vtlb_create_new_file(path, O_WRONLY, 0666);
  if (fd >= 0 || errno != EEXIST) return fd;
  struct stat st;
  if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    errno = EEXIST;
    return -1;
  }
  if (unlink(path) != 0) return -1;
  return vtlb_create_new_file(path, O_WRONLY, 0666);
}

}  // namespace

bool create_file_for_vtu_gen_script(RunState &run, Failure *err) {
  ScriptInput &input = run.script_input;
  if (run.log.debug_level) debug_log(run.log, 1, kFname, "Method called");
  snprintf(input.vtu_gen_script_file_name, sizeof(input.vtu_gen_script_file_name),
           "/tmp/filename_%d", static_cast<int>(getpid()));
  if (run.options.dry_run) return true;  // no file; no generator line is written
  if (run.log.debug_level) {
    debug_log(run.log, 2, kFname, "Method called vtu_gen_script_file_name is = %s",
              input.vtu_gen_script_file_name);
    // Made new rather than through open_file, whose trace it keeps.
    debug_log(run.log, 4, trace_name::kOpenFile, "Method Called. file_name = %s, mode = %s",
              input.vtu_gen_script_file_name, "w");
  }
  int fd = create_generator_input(input.vtu_gen_script_file_name);
  input.vtu_gen_script_fp = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (!input.vtu_gen_script_fp) {
    int error = errno;
    if (fd >= 0) close(fd);
    if (error == EEXIST)
      return fail(err, kFname,
                  "Error in creating file '%s' for the generation of script: %s is in its place",
                  input.vtu_gen_script_file_name, vtlb_file_kind(input.vtu_gen_script_file_name));
    return fail(err, kFname, "Error in creating file '%s' for the generation of script: %s",
                input.vtu_gen_script_file_name, strerror(error));
  }
  set_interrupt_gen_input(input.vtu_gen_script_file_name);
  return true;
}

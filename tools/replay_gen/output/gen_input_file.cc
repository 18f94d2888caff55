#include "tools/replay_gen/output/gen_input_file.h"

#include <stdio.h>
#include <unistd.h>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

void create_file_for_vtu_gen_script() {
  const char *fname = "create_file_for_vtu_gen_script";
  if (run.log.debug_level) debug_log(1, fname, "Method called");
  snprintf(run.script_input.vtu_gen_script_file_name,
           sizeof(run.script_input.vtu_gen_script_file_name), "/tmp/filename_%d",
           static_cast<int>(getpid()));
  if (run.options.dry_run) return;  // no file; no generator line is written
  if (run.log.debug_level)
    debug_log(2, fname, "Method called vtu_gen_script_file_name is = %s",
              run.script_input.vtu_gen_script_file_name);
  run.script_input.vtu_gen_script_fp = open_file(run.script_input.vtu_gen_script_file_name, "w");
  if (!run.script_input.vtu_gen_script_fp) {
    error_log(1, fname, "Error in creating file '%s' for the generation of script",
              run.script_input.vtu_gen_script_file_name);
    vt_exit(-1);
  }
}

// vtu_replay_gen: the program's setup, the stage list, and the one place
// where a run that fails is reported and ends.
#include <locale.h>
#include <stdio.h>

#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/driver/driver.h"
#include "tools/replay_gen/driver/generate.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/loader/input_open_limit.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

namespace {

// The options and the defaults the stages start from.
bool set_up(RunState &run, int argc, char **argv, Failure *err) {
  info_log(run.log, 1, "",
           "Starting replay file generation at %s. It may take time. Please wait ...",
           get_cur_date_time(nullptr));
  int i_flag;
  if (!parse_options(run, argc, argv, &i_flag, err)) return false;
  if (run.options.commentry_req_count == 0)
    run.options.commentry_req_count = messages_per_seconds * 5 * 2;
  // Too few descriptors would fail the CPU count and the replay directory's
  // lock with misleading messages.
  if (!require_open_file_room(run.log, trace_name::kMain, err)) return false;
  if (run.workers.num_vvm == 0) set_default_num_vvm(run);
  if (i_flag == 0) {
    fail(err, trace_name::kMain, "Config file must be given.");
    return print_usage(argv[0], err);
  }
  setlocale(LC_ALL, "en_US");
  install_interrupt_handlers();
  return true;
}

}  // namespace

int vtu_replay_gen_main(int argc, char **argv) {
  if (print_help_or_version(argc, argv)) return 0;
  RunState run;
  Failure err;
  if (!set_up(run, argc, argv, &err) || generate(run, Mode::kWrite, &err) != 0)
    exit_on_failure(run.log, err);
  return 0;
}

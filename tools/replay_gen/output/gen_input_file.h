// The script generator's input file, "/tmp/filename_<pid>": one line per
// service, written while the request heads are composed.
#ifndef VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_
#define VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Creates the file empty and keeps it open in vtu_gen_script_fp; a file that
// cannot be created fails the run. A dry run makes none.
bool create_file_for_vtu_gen_script(RunState &run, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_

// Step 1: the list of input log files.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_FILES_H_
#define VT_REPLAY_GEN_LOADER_INPUT_FILES_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Turns the INPUT_DIR line in input_dir into seq_file_path and num_seq_files:
// base directory, then optionally "|" and the date directories (all, a list
// or a range), then optionally "|" and the files of each (all in numeric
// order, a list or a range). Cuts input_dir in place.
bool gen_input_file_list(RunState &run, Failure *err);

#endif  // VT_REPLAY_GEN_LOADER_INPUT_FILES_H_

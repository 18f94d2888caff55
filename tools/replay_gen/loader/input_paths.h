// Step 1: composing the paths of the input tree and the growing file list.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_PATHS_H_
#define VT_REPLAY_GEN_LOADER_INPUT_PATHS_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Formats a path into buf (kTextBufSize bytes) and returns its length, or -1
// with *err for a path that does not fit: a cut path is never used.
int format_input_path(Failure *err, char *buf, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Appends a copy of path (len characters) to seq_file_path, growing the list
// as needed. oom_name names the allocation in an out-of-memory message.
bool append_input_file(RunState &run, const char *path, int len, const char *oom_name,
                       Failure *err);

#endif  // VT_REPLAY_GEN_LOADER_INPUT_PATHS_H_

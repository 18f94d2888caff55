// The replay directory's life in the run: made and locked when its line is
// read; under -f an existing one is removed only once the whole
// configuration is known.
#ifndef VT_REPLAY_GEN_CONFIG_REPLAY_DIR_H_
#define VT_REPLAY_GEN_CONFIG_REPLAY_DIR_H_

#include <string>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Under -f, removes the existing replay directory that set_replay_dir found
// and locked (or the symbolic link given as one), unless
// replay_dir_removal_refusal refuses it, and makes it anew. Nothing to do
// otherwise. A dry run notes as problems what the run would refuse: an
// existing replay directory without -f, one -f would not delete.
bool complete_replay_dir(RunState &run, Failure *err);

// Why the replay directory at path (or the symbolic link there, is_link)
// must not be deleted: "is the root directory", "is", "holds" or "lies
// inside" the input base directory or VT_WDIR, or "holds the configuration
// file ...", all compared with symbolic links resolved. Empty when it may go.
std::string replay_dir_removal_refusal(const RunState &run, const char *path, bool is_link);

// Gives up the lock and any pending removal (a later REPLAY_DIR line, tests).
void release_replay_dir(RunState &run);

#endif  // VT_REPLAY_GEN_CONFIG_REPLAY_DIR_H_

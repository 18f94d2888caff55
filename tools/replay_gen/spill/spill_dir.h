// The private directory of a run's spill files. It is made when the first
// spill file is needed: in the replay directory, or for a dry run, which
// has no replay directory of its own (one there may hold another run's
// package), in the directory for temporary files (spill_dir_base); mode
// 0700, a new name (mkdtemp). Every file in it loses its name as soon as it
// is open, and the directory itself is removed when the run ends: normally,
// on an error, or by SIGINT or SIGTERM.
#ifndef VT_REPLAY_GEN_SPILL_SPILL_DIR_H_
#define VT_REPLAY_GEN_SPILL_SPILL_DIR_H_

#include <pthread.h>
#include <stddef.h>

#include <string>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Makes the directory unless it exists; returns its path, or null with *err.
const char *spill_dir_make(RunState &run, Failure *err);

// Creates the file what.<n> in the directory (making the directory first),
// open for reading and writing, and removes its name; *path receives the
// name it had. -1, with *err, when either cannot be made.
int spill_dir_new_file(RunState &run, const char *what, std::string *path, Failure *err);

// Where a dry run makes its spill directory: TMPDIR when it names a
// directory by an absolute path other than "/" that leaves room for the
// directory's name (at most max characters), else /tmp.
std::string dry_run_spill_base(const char *tmpdir, size_t max);

// Input files are opened under this lock: a spill file passes through the
// lowest free descriptor on its way to the top of the range, and an input
// file opened meanwhile would get another number than in a run that does not
// spill (which the debug lines show).
pthread_mutex_t *descriptor_order_mutex();

// Removes the directory, if made; its files have no names left. A run that
// spilled first says how much it wrote and in how many merge passes each of
// its sorts ended.
bool spill_dir_remove(RunState &run, Failure *err);

// A run that ends early removes the directory, if made, and the file being
// made in it, saying nothing.
void spill_dir_abandon(RunState &run);

#endif  // VT_REPLAY_GEN_SPILL_SPILL_DIR_H_

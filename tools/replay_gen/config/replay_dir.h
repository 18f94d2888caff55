// The replay directory's life in the run: made and locked when its line is
// read; under -f an existing one is removed only once the whole
// configuration is known.
#ifndef VT_REPLAY_GEN_CONFIG_REPLAY_DIR_H_
#define VT_REPLAY_GEN_CONFIG_REPLAY_DIR_H_

// Under -f, removes the existing replay directory that set_replay_dir found
// and locked, unless it is "/" or holds the input directory or VT_WDIR, and
// makes it anew. Nothing to do otherwise.
void complete_replay_dir();

// Gives up the lock and any pending removal (a later REPLAY_DIR line, tests).
void release_replay_dir();

#endif  // VT_REPLAY_GEN_CONFIG_REPLAY_DIR_H_

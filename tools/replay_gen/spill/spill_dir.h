// The private directory of a run's spill files. It is made when the first
// spill file is needed: in the replay directory, or for a dry run, which
// makes no replay directory, in the nearest existing directory above where
// it would be; mode 0700, a new name (mkdtemp). Every file in it loses its
// name as soon as it is open, and the directory itself is removed when the
// run ends: normally, through vt_exit, or by SIGINT or SIGTERM.
#ifndef VT_REPLAY_GEN_SPILL_SPILL_DIR_H_
#define VT_REPLAY_GEN_SPILL_SPILL_DIR_H_

#include <string>

// Makes the directory unless it exists; returns its path.
const char *spill_dir_make();

// Creates the file what.<n> in the directory (making the directory first),
// open for reading and writing, and removes its name; *path receives the
// name it had. Ends the run when either cannot be made.
int spill_dir_new_file(const char *what, std::string *path);

// The directory for a dry run's spill files: dir when it exists, else the
// nearest existing directory above it ("." for a relative path that has
// none).
std::string existing_dir_at_or_above(const std::string &dir);

// Removes the directory, if made; its files have no names left. A run that
// spilled first says how much it wrote and in how many merge passes each of
// its sorts ended.
void spill_dir_remove();

#endif  // VT_REPLAY_GEN_SPILL_SPILL_DIR_H_

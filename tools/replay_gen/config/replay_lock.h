// The replay directory belongs to one run at a time: the run holds an
// exclusive lock (flock) on the directory from its creation to its end.
#ifndef VT_REPLAY_GEN_CONFIG_REPLAY_LOCK_H_
#define VT_REPLAY_GEN_CONFIG_REPLAY_LOCK_H_

#include <string>

// Opens the directory at path (never through a symbolic link) and takes the
// lock without waiting. Returns the descriptor that holds it, or -1: with
// *busy true when another open of the directory holds the lock, and *holder
// then the process id that took it (0 when unknown), else with errno set.
int lock_dir(const char *path, bool *busy, int *holder);

// The process id that holds a lock on the file open at fd, from the
// system's lock table; 0 when none is found.
int dir_lock_holder(int fd);

// True when the directory outer is inner or lies above it (both absolute and
// free of symbolic links), or outer is "/".
bool path_covers(const std::string &outer, const std::string &inner);

// The path without its trailing slashes ("/" stays "/"), so that "link/"
// names the link itself, not the directory it points to.
std::string without_trailing_slashes(const char *path);

#endif  // VT_REPLAY_GEN_CONFIG_REPLAY_LOCK_H_

// Files the tool creates: never through a symbolic link someone planted, and
// written whole or not at all.
#ifndef VT_BASE_CORE_SAFE_FILE_H_
#define VT_BASE_CORE_SAFE_FILE_H_

#include <stddef.h>
#include <sys/types.h>

#include <string>

// Creates path as a new regular file (exclusively, not following a symbolic
// link in its last component) and opens it with flags (O_WRONLY, O_APPEND,
// ...) and mode. Returns the descriptor, or -1 with errno set: EEXIST when
// anything, a symbolic link included, is already there.
int vtlb_create_new_file(const char *path, int flags, mode_t mode);

// Writes all len bytes of buf to fd, going on after short writes and
// interruptions. Returns true when every byte was written; false with errno
// set otherwise (ENOSPC when the system took no more without saying why).
bool vtlb_write_all(int fd, const void *buf, size_t len);

// Writes text as the new file path (mode 0644, made as vtlb_create_new_file
// makes it). False with *error naming the path and the system's reason when
// the file cannot be made or written whole; a file cut short is removed.
bool vtlb_write_new_file(const std::string &path, const std::string &text, std::string *error);

// What lies at path, for messages: "a symbolic link", "a directory", "a
// named pipe", ... or "a regular file"; "nothing" when lstat fails.
const char *vtlb_file_kind(const char *path);

#endif  // VT_BASE_CORE_SAFE_FILE_H_

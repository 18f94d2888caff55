// Files a program reads (a configuration, an index or request file, a log):
// opened only when they are regular files. A named pipe, a device, a socket
// or a directory is refused with a reason, and never waited on: opening a
// named pipe without a writer would block for ever, and /dev/zero never
// ends.
#ifndef VT_BASE_CORE_INPUT_FILE_H_
#define VT_BASE_CORE_INPUT_FILE_H_

#include <sys/types.h>

#include <string>

// Opens path (a symbolic link is followed) with flags (O_RDONLY, or
// O_WRONLY | O_CREAT | O_TRUNC and mode for a file that is replaced) and
// O_CLOEXEC when it is, or becomes, a regular file. Returns the descriptor,
// in blocking mode; or -1 with *why set: "a named pipe, not a regular file"
// (errno EINVAL) or the system's reason (errno set).
int vtlb_open_regular_file(const char *path, int flags, std::string *why, mode_t mode = 0644);

// Reads the whole regular file path into *text. False with *why set as
// vtlb_open_regular_file sets it, or to the system's reason of a failed read.
bool vtlb_read_regular_file(const std::string &path, std::string *text, std::string *why);

// What a mode's file is, for messages: "a regular file", "a directory", "a
// named pipe", "a socket", "a device" or "a symbolic link".
const char *vtlb_kind_of_mode(mode_t mode);

#endif  // VT_BASE_CORE_INPUT_FILE_H_

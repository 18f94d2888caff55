#include "base/core/input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int refuse(mode_t mode, std::string *why) {
  *why = std::string(vtlb_kind_of_mode(mode)) + ", not a regular file";
  errno = EINVAL;
  return -1;
}

// Closes fd (when open) and fails with err, in errno and in words.
int fail(int fd, int err, std::string *why) {
  if (fd >= 0) close(fd);
  *why = strerror(err);
  errno = err;
  return -1;
}

}  // namespace

const char *vtlb_kind_of_mode(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "a device";
}

int vtlb_open_regular_file(const char *path, int flags, std::string *why, mode_t mode) {
  // Looked at first, so that a device is not even opened; then opened
  // without waiting, for what was put in its place meanwhile.
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return refuse(st.st_mode, why);
  int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0 || fstat(fd, &st) != 0) return fail(fd, errno, why);
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return refuse(st.st_mode, why);
  }
  int fl = fcntl(fd, F_GETFL);
  if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) return fail(fd, errno, why);
  return fd;
}

bool vtlb_read_regular_file(const std::string &path, std::string *text, std::string *why) {
  int fd = vtlb_open_regular_file(path.c_str(), O_RDONLY, why);
  if (fd < 0) return false;
  text->clear();
  char buf[65536];
  for (;;) {
    ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *why = strerror(errno);
      close(fd);
      return false;
    }
    if (got == 0) break;
    text->append(buf, static_cast<size_t>(got));
  }
  close(fd);
  return true;
}

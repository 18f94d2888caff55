#include "base/core/safe_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/core/input_file.h"

int vtlb_create_new_file(const char *path, int flags, mode_t mode) {
  int fd = open(path, flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  // O_EXCL made the file here; a file that is not regular cannot result, but
  // what was opened is checked all the same.
  struct stat st;
  int err = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (err) {
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

bool vtlb_write_all(int fd, const void *buf, size_t len) {
  const char *at = static_cast<const char *>(buf);
  while (len) {
    ssize_t done = write(fd, at, len);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return false;
    if (done == 0) {
      errno = ENOSPC;
      return false;
    }
    at += done;
    len -= static_cast<size_t>(done);
  }
  return true;
}

const char *vtlb_file_kind(const char *path) {
  struct stat st;
  if (lstat(path, &st) != 0) return "nothing";
  return vtlb_kind_of_mode(st.st_mode);
}

bool vtlb_write_new_file(const std::string &path, const std::string &text, std::string *error) {
  int fd = vtlb_create_new_file(path.c_str(), O_WRONLY, 0644);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + strerror(errno);
    return false;
  }
  bool written = vtlb_write_all(fd, text.data(), text.size());
  int err = errno;
  if (close(fd) != 0 && written) {
    written = false;
    err = errno;
  }
  if (written) return true;
  *error = "cannot write " + path + ": " + strerror(err);
  unlink(path.c_str());
  return false;
}

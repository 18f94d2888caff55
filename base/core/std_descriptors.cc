#include "base/core/std_descriptors.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

bool vtlb_open_std_descriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one, as those below it
    // are open.
    int got = open("/dev/null", O_RDWR | O_NOCTTY);
    if (got < 0) return false;
    if (got != fd) {  // cannot happen, but never leave it on a wrong number
      close(got);
      return false;
    }
  }
  return true;
}

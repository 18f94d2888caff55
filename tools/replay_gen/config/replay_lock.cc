#include "tools/replay_gen/config/replay_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

int dir_lock_holder(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return 0;
  FILE *locks = fopen("/proc/locks", "r");
  if (!locks) return 0;
  // "1: FLOCK  ADVISORY  WRITE 4711 08:01:1234 0 EOF"; waiting locks carry
  // "->" after the number and are skipped.
  char line[256];
  int holder = 0;
  while (!holder && fgets(line, sizeof line, locks)) {
    char kind[16], mode[16], access[16];
    int pid;
    unsigned maj, min;
    unsigned long ino;
    if (strstr(line, "->")) continue;
    if (sscanf(line, "%*d: %15s %15s %15s %d %x:%x:%lu", kind, mode, access, &pid, &maj, &min,
               &ino) != 7)
      continue;
    if (ino == st.st_ino && maj == major(st.st_dev) && min == minor(st.st_dev)) holder = pid;
  }
  fclose(locks);
  return holder;
}

int lock_dir(const char *path, bool *busy, int *holder) {
  *busy = false;
  *holder = 0;
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  if (errno == EWOULDBLOCK) {
    *busy = true;
    *holder = dir_lock_holder(fd);
  }
  close(fd);
  return -1;
}

bool path_covers(const std::string &outer, const std::string &inner) {
  if (outer == "/" || outer == inner) return true;
  return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
         inner[outer.size()] == '/';
}

std::string without_trailing_slashes(const char *path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

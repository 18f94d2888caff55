#include "tools/replay_gen/spill/spill_file.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/spill_dir.h"

SpillFile *spill_file_create(const char *what) {
  auto *f = new SpillFile;
  f->fd = spill_dir_new_file(what, &f->path);
  return f;
}

uint64_t spill_file_reserve(SpillFile *f, uint64_t len) {
  return f->end.fetch_add(len);
}

void spill_file_write(SpillFile *f, uint64_t offset, const void *buf, size_t len) {
  std::atomic_ref<uint64_t>(run.spill.bytes_written).fetch_add(len);
  const char *at = static_cast<const char *>(buf);
  while (len) {
    ssize_t done = pwrite(f->fd, at, len, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = ENOSPC;
      error_log(run.log, 1, "write_spill_file", "Error in writing spill file %s: %s",
                f->path.c_str(), strerror(errno));
      vt_exit(-1);
    }
    at += done;
    len -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
}

void spill_file_read(SpillFile *f, uint64_t offset, void *buf, size_t len) {
  char *at = static_cast<char *>(buf);
  while (len) {
    ssize_t done = pread(f->fd, at, len, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      error_log(run.log, 1, "read_spill_file", "Error in reading spill file %s: %s",
                f->path.c_str(), done < 0 ? strerror(errno) : "the file ends early");
      vt_exit(-1);
    }
    at += done;
    len -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
}

void spill_file_close(SpillFile *f) {
  if (!f) return;
  if (f->fd >= 0) close(f->fd);
  delete f;
}

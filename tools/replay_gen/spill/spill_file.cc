#include "tools/replay_gen/spill/spill_file.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/spill/spill_dir.h"

SpillFile *spill_file_create(RunState &run, const char *what, Failure *err) {
  auto *f = new SpillFile;
  f->fd = spill_dir_new_file(run, what, &f->path, err);
  if (f->fd < 0) {
    delete f;
    return nullptr;
  }
  f->bytes_written = &run.spill.bytes_written;
  return f;
}

uint64_t spill_file_reserve(SpillFile *f, uint64_t len) {
  return f->end.fetch_add(len);
}

bool spill_file_write(SpillFile *f, uint64_t offset, const void *buf, size_t len, Failure *err) {
  if (f->bytes_written) std::atomic_ref<uint64_t>(*f->bytes_written).fetch_add(len);
  const char *at = static_cast<const char *>(buf);
  while (len) {
    ssize_t done = pwrite(f->fd, at, len, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = ENOSPC;
      return fail(err, "write_spill_file", "Error in writing spill file %s: %s", f->path.c_str(),
                  strerror(errno));
    }
    at += done;
    len -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return true;
}

bool spill_file_read(SpillFile *f, uint64_t offset, void *buf, size_t len, Failure *err) {
  char *at = static_cast<char *>(buf);
  while (len) {
    ssize_t done = pread(f->fd, at, len, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0)
      return fail(err, "read_spill_file", "Error in reading spill file %s: %s", f->path.c_str(),
                  done < 0 ? strerror(errno) : "the file ends early");
    at += done;
    len -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return true;
}

void spill_file_close(SpillFile *f) {
  if (!f) return;
  if (f->fd >= 0) close(f->fd);
  delete f;
}

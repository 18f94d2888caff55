// One spill file: a file of the run's private spill directory (spill_dir.h)
// that holds sorted runs of records. Its name is removed as soon as it is
// open, so the file goes with its descriptor, however the run ends; the path
// is kept for messages.
#ifndef VT_REPLAY_GEN_SPILL_SPILL_FILE_H_
#define VT_REPLAY_GEN_SPILL_SPILL_FILE_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>

#include "tools/replay_gen/failure.h"

struct RunState;

struct SpillFile {
  int fd = -1;
  std::string path;
  // Bytes handed out so far: threads reserve their places in the file and
  // then write there side by side.
  std::atomic<uint64_t> end{0};
  uint64_t *bytes_written = nullptr;  // the run's count, added to atomically
};

// A new spill file named after what ("uid_order", ...); null, with *err,
// when it cannot be made.
SpillFile *spill_file_create(RunState &run, const char *what, Failure *err);

// Reserves len bytes at the end of the file; returns their offset.
uint64_t spill_file_reserve(SpillFile *f, uint64_t len);

// Writes len bytes at offset; a failed or short write (a full disk) fails,
// naming the file and the system's reason.
bool spill_file_write(SpillFile *f, uint64_t offset, const void *buf, size_t len, Failure *err);

// Reads len bytes at offset; fails when they are not all there.
bool spill_file_read(SpillFile *f, uint64_t offset, void *buf, size_t len, Failure *err);

// Closes the file (so that its space is freed) and releases it.
void spill_file_close(SpillFile *f);

#endif  // VT_REPLAY_GEN_SPILL_SPILL_FILE_H_

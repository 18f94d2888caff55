#include "tools/replay_gen/output/request_sink.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/safe_file.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_entry.h"
#include "tools/replay_gen/run_state.h"

namespace {

const char *const kFname = "add_request_new";

// The most one sendfile call moves on Linux.
constexpr uint64_t kMaxSendfileChunk = 0x7ffff000;

// The staging pipe's size. A pipe holds a fixed number of pieces (one per
// 4 KiB of its size), and every entry takes two or three (its head, its body's
// pages), so a 256 KiB pipe had to be emptied every 20 entries or so; 1 MiB
// was the fastest size measured, 2 MiB and more were slower again. It is also
// the largest size that the system grants any user by default; where it is
// refused, the pipe is asked for half as much, down to the system's default.
constexpr int kStagePipeSize = 1024 * 1024;
constexpr int kDefaultPipeSize = 64 * 1024;
// Heads waiting in the pipe, about 120 bytes for each entry staged.
constexpr size_t kArenaSize = 256 * 1024;

// Every this many bytes in a request file, the kernel is asked to start
// writing them to the disk, so that the disk works while the entries after
// them are put together instead of all at the end.
constexpr uint64_t kWritebackStep = 8 << 20;

bool staging(const EntrySink *out) {
  return out->stage->pipe_w >= 0;
}

ssize_t write_once(int fd, const char *buf, size_t len) {
  ssize_t done;
  do {
    done = write(fd, buf, len);
  } while (done < 0 && errno == EINTR);
  return done;
}

// Moves every staged byte into the file; false, with errno set, when the
// file takes no more.
bool drain(RequestStage *stage, int fd) {
  while (stage->staged) {
    ssize_t got = splice(stage->pipe_r, nullptr, fd, nullptr, stage->staged, SPLICE_F_MOVE);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    stage->staged -= static_cast<uint64_t>(got);
  }
  stage->arena_used = 0;
  return true;
}

// Ends the run from a writer thread. What was handed on before the failure,
// and the newline owed to the last whole entry, go to the file first, as far
// as it takes them, so the file ends as it would have with direct writes.
[[noreturn]] void fail(EntrySink *out, int status) {
  if (out->stage->staged && !drain(out->stage, out->fd)) {
    // The failure is reported already; nothing more can be done.
  }
  if (out->newline_pending && write_once(out->fd, "\n", 1) < 0) {
    // As above.
  }
  vt_exit(status);
}

void drain_or_fail(EntrySink *out) {
  if (drain(out->stage, out->fd)) return;
  error_log(1, kFname, "write to output file vt_req_%d failed: %s", out->vvm_id, strerror(errno));
  fail(out, -1);
}

[[noreturn]] void fail_head(EntrySink *out) {
  error_log(1, kFname, "header write to output file vt_req_%d failed: %s", out->vvm_id,
            strerror(errno));
  fail(out, -1);
}

int input_descriptor(EntrySink *out, FILE *fp) {
  int fd = fp ? fileno(fp) : -1;
  if (fd < 0) {
    error_log(1, kFname, "error in fileno(). seq_file_fp %p %s", static_cast<void *>(fp),
              strerror(fp ? errno : EBADF));
    fail(out, -1);
  }
  return fd;
}

// Makes room for len bytes at the end of the arena: drains the pipe, which
// frees the whole arena, and grows the arena for a head larger than it.
char *arena_room(EntrySink *out, size_t len) {
  RequestStage *stage = out->stage;
  if (stage->arena_cap - stage->arena_used >= len) return stage->arena + stage->arena_used;
  drain_or_fail(out);
  if (len > stage->arena_cap) {
    char *grown = static_cast<char *>(realloc(stage->arena, len));
    if (!grown) {
      error_log(1, kFname, "Out of Memory: %s (size = %zu) for index %d", "head arena", len, -1);
      fail(out, -1);
    }
    stage->arena = grown;
    stage->arena_cap = len;
  }
  return stage->arena;
}

// The whole head; after a short write the rest is written, and a failure
// then carries the system's reason. A pending newline leads the head, so any
// byte written settles it.
void write_head(EntrySink *out) {
  ssize_t done = write_once(out->fd, out->head.data(), out->head.size());
  if (done > 0) out->newline_pending = false;
  if (done < 0) fail_head(out);
  size_t rest = out->head.size() - static_cast<size_t>(done);
  if (rest && !vtlb_write_all(out->fd, out->head.data() + done, rest)) fail_head(out);
}

// A system that cannot stage (no vmsplice, or no sendfile into a pipe) gets
// the rest of the thread's entries written straight to the files. got and
// errno are those of the call that failed.
bool give_up_staging(EntrySink *out, ssize_t got) {
  if (got >= 0 || !staging(out) || (errno != EINVAL && errno != ENOSYS && errno != EPERM))
    return false;
  drain_or_fail(out);
  stage_close(out->stage);
  if (run.log.debug_level)
    debug_log(2, kFname, "no staging pipe: writing vt_req_%d directly", out->vvm_id);
  return true;
}

// The head goes into the pipe by reference to its copy in the arena, which
// stays untouched until the pipe is drained.
void stage_head(EntrySink *out) {
  RequestStage *stage = out->stage;
  const char *from = out->head.data();
  size_t left = out->head.size();
  while (left) {
    char *at = arena_room(out, left);
    memcpy(at, from, left);
    struct iovec piece = {at, left};
    ssize_t got = vmsplice(stage->pipe_w, &piece, 1, SPLICE_F_NONBLOCK);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN && stage->staged) {
      drain_or_fail(out);
      continue;
    }
    if (from == out->head.data() && give_up_staging(out, got)) return write_head(out);
    if (got <= 0) fail_head(out);
    out->newline_pending = false;  // a pending newline leads the head
    stage->arena_used += static_cast<size_t>(got);
    stage->staged += static_cast<uint64_t>(got);
    from += got;
    left -= static_cast<size_t>(got);
  }
}

// Copies size bytes at body_offset of in_fd by the kernel, looping over
// interrupted and partial copies.
void copy_body(EntrySink *out, int in_fd, off_t body_offset, uint64_t size) {
  if (run.log.debug_level)
    debug_log(4, kFname, "sendfile args: fdout %d fdin %d off %ld size %lu\n", out->fd, in_fd,
              static_cast<long>(body_offset), size);
  RequestStage *stage = out->stage;
  off_t in_off = body_offset;
  uint64_t copied = 0;
  while (copied < size) {
    size_t chunk = static_cast<size_t>(std::min(size - copied, kMaxSendfileChunk));
    ssize_t got = sendfile(staging(out) ? stage->pipe_w : out->fd, in_fd, &in_off, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN && stage->staged) {
      drain_or_fail(out);
      continue;
    }
    if (give_up_staging(out, got)) continue;
    if (got < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
      // The request file takes no more: a write failure, not a copy failure.
      error_log(1, kFname, "write to output file vt_req_%d failed: %s", out->vvm_id,
                strerror(errno));
      fail(out, -1);
    }
    if (got <= 0) {
      const char *why = got < 0 ? strerror(errno) : "input file ends before the body does";
      error_log(1, kFname,
                "sendfile error:%s ret %ld request_size %lu offset(in) %ld offset(out) %ld", why,
                got < 0 ? -1L : static_cast<long>(copied), size, static_cast<long>(body_offset),
                static_cast<long>(in_off));
      fail(out, 1);
    }
    if (staging(out)) stage->staged += static_cast<uint64_t>(got);
    copied += static_cast<uint64_t>(got);
  }
}

// Starts writing the bytes that reached the file since the last call to the
// disk once there are enough of them; nothing waits for the disk.
void start_writeback(EntrySink *out) {
  uint64_t in_file = out->written - out->stage->staged;
  if (in_file - out->writeback_from < kWritebackStep) return;
  sync_file_range(out->fd, static_cast<off_t>(out->writeback_from),
                  static_cast<off_t>(in_file - out->writeback_from), SYNC_FILE_RANGE_WRITE);
  out->writeback_from = in_file;
}

}  // namespace

void stage_open(RequestStage *stage, bool use_pipe) {
  *stage = RequestStage{-1, -1, nullptr, 0, 0, 0};
  int fds[2];
  if (!use_pipe || pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  stage->arena = static_cast<char *>(malloc(kArenaSize));
  if (!stage->arena) {
    close(fds[0]);
    close(fds[1]);
    return;
  }
  // A smaller pipe than asked for only drains more often.
  for (int size = kStagePipeSize; size > kDefaultPipeSize; size /= 2)
    if (fcntl(fds[1], F_SETPIPE_SZ, size) >= 0) break;
  stage->pipe_r = fds[0];
  stage->pipe_w = fds[1];
  stage->arena_cap = kArenaSize;
}

void stage_close(RequestStage *stage) {
  if (stage->pipe_w >= 0) {
    close(stage->pipe_r);
    close(stage->pipe_w);
  }
  free(stage->arena);
  *stage = RequestStage{-1, -1, nullptr, 0, 0, 0};
}

void write_entry(EntrySink *out, const SeqData &rec) {
  out->head.clear();
  if (out->newline_pending) out->head.push_back('\n');
  append_entry_head(&out->head, rec.service_id, rec.req_size, out->vvm_id);
  int fdin = input_descriptor(out, rec.req_file_fp);
  if (staging(out))
    stage_head(out);
  else
    write_head(out);
  copy_body(out, fdin, rec.req_offset, rec.req_size);
  out->newline_pending = true;
  out->written += out->head.size() + rec.req_size;
  start_writeback(out);
}

void finish_entries(EntrySink *out) {
  if (staging(out)) drain_or_fail(out);
  if (out->newline_pending) {
    if (write_once(out->fd, "\n", 1) != 1) {
      error_log(1, kFname, "Unable to write request in index_%d: %s", out->vvm_id, strerror(errno));
      vt_exit(-1);
    }
    out->newline_pending = false;
    out->written++;
  }
  // The rest of the file: nbytes 0 reaches its end.
  sync_file_range(out->fd, static_cast<off_t>(out->writeback_from), 0, SYNC_FILE_RANGE_WRITE);
  uint64_t planned = static_cast<uint64_t>(run.workers.vvm_list[out->vvm_id].offset);
  if (out->written != planned) {
    error_log(1, "process_sequence_data_new",
              "vt_req_%d holds %lu bytes of entries where its index expects %lu", out->vvm_id,
              out->written, planned);
    vt_exit(-1);
  }
}

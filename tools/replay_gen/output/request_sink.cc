#include "tools/replay_gen/output/request_sink.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/safe_file.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_entry.h"
#include "tools/replay_gen/trace_names.h"

namespace {

const char *const kFname = trace_name::kAddRequest;

// The most one sendfile call moves on Linux.
constexpr uint64_t kMaxSendfileChunk = 0x7ffff000;

// Each writer thread's output buffer. The measured times (README,
// Performance) fell up to 1 MiB and no further with 4 MiB.
constexpr size_t kBufferSize = 1024 * 1024;
// Bodies from this size on are copied by the kernel: reading them into the
// buffer and writing them out again measured slower from about here on.
constexpr uint64_t kKernelCopyFrom = 64 * 1024;

// Every this many bytes in a request file, the kernel is asked to start
// writing them to the disk, so that the disk works while the entries after
// them are put together instead of all at the end.
constexpr uint64_t kWritebackStep = 8 << 20;

// Gives up on the file after a failure (false, *err filled before). What
// was handed on before the failure, and the newline owed to the last whole
// entry, go to the file first, as far as it takes them, so the file ends as
// it would have with direct writes.
bool give_up(EntrySink *out);

// Writes the buffered bytes to the file; false, with errno set, when the
// file takes no more. The buffer is empty afterwards either way.
bool flush(EntrySink *out) {
  RequestStage *stage = out->stage;
  const char *at = stage->buf;
  size_t left = stage->used;
  stage->used = 0;
  vtlb_digest_update(&out->digest, at, left);
  while (left) {
    ssize_t done = write(out->fd, at, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = EIO;
      return false;
    }
    at += done;
    left -= static_cast<size_t>(done);
  }
  return true;
}

bool flush_or_fail(EntrySink *out, Failure *err) {
  if (flush(out)) return true;
  fail(err, kFname, "write to output file vt_req_%d failed: %s", out->vvm_id, strerror(errno));
  return give_up(out);
}

bool give_up(EntrySink *out) {
  if (out->stage->used && !flush(out)) {
    // The failure is reported already; nothing more can be done.
  }
  if (out->newline_pending && write(out->fd, "\n", 1) < 0) {
    // As above.
  }
  return false;
}

int input_descriptor(EntrySink *out, FILE *fp, Failure *err) {
  int fd = fp ? fileno(fp) : -1;
  if (fd < 0) {
    fail(err, kFname, "error in fileno(). seq_file_fp %p %s", static_cast<void *>(fp),
         strerror(fp ? errno : EBADF));
    give_up(out);
  }
  return fd;
}

// Appends len bytes to the buffer, writing it out each time it is full.
bool put(EntrySink *out, const char *from, size_t len, Failure *err) {
  RequestStage *stage = out->stage;
  while (len) {
    if (stage->used == stage->cap && !flush_or_fail(out, err)) return false;
    size_t n = std::min(len, stage->cap - stage->used);
    memcpy(stage->buf + stage->used, from, n);
    stage->used += n;
    from += n;
    len -= n;
  }
  return true;
}

bool fail_body(EntrySink *out, ssize_t got, uint64_t size, off_t body_offset, off_t in_off,
               uint64_t copied, Failure *err) {
  if (got < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
    // The request file takes no more: a write failure, not a copy failure.
    fail(err, kFname, "write to output file vt_req_%d failed: %s", out->vvm_id, strerror(errno));
    return give_up(out);
  }
  const char *why = got < 0 ? strerror(errno) : "input file ends before the body does";
  fail_with(err, 1, kFname,
            "sendfile error:%s ret %ld request_size %lu offset(in) %ld offset(out) %ld", why,
            got < 0 ? -1L : static_cast<long>(copied), size, static_cast<long>(body_offset),
            static_cast<long>(in_off));
  return give_up(out);
}

// Reads size bytes at body_offset of in_fd into the buffer, in as many
// pieces as the room in it asks for.
bool read_body(EntrySink *out, int in_fd, off_t body_offset, uint64_t size, Failure *err) {
  RequestStage *stage = out->stage;
  off_t in_off = body_offset;
  uint64_t copied = 0;
  while (copied < size) {
    if (stage->used == stage->cap && !flush_or_fail(out, err)) return false;
    size_t room = stage->cap - stage->used;
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(size - copied, room));
    ssize_t got = pread(in_fd, stage->buf + stage->used, chunk, in_off);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return fail_body(out, got, size, body_offset, in_off, copied, err);
    stage->used += static_cast<size_t>(got);
    in_off += got;
    copied += static_cast<uint64_t>(got);
  }
  return true;
}

// Feeds the digest the size bytes at body_offset of in_fd, read through the
// empty buffer piece by piece: the kernel copy that follows passes them by.
// A body that cannot be read whole is left to that copy to report, after it
// has copied what there is.
void hash_body(EntrySink *out, int in_fd, off_t body_offset, uint64_t size) {
  RequestStage *stage = out->stage;
  off_t in_off = body_offset;
  uint64_t done = 0;
  while (done < size) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(size - done, stage->cap));
    ssize_t got = pread(in_fd, stage->buf, chunk, in_off);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    vtlb_digest_update(&out->digest, stage->buf, static_cast<size_t>(got));
    in_off += got;
    done += static_cast<uint64_t>(got);
  }
}

// Copies size bytes at body_offset of in_fd by the kernel straight to the
// file, after the buffered bytes, looping over interrupted and partial
// copies.
bool copy_body(EntrySink *out, int in_fd, off_t body_offset, uint64_t size, Failure *err) {
  if (!flush_or_fail(out, err)) return false;
  out->kernel_copies++;
  hash_body(out, in_fd, body_offset, size);
  off_t in_off = body_offset;
  uint64_t copied = 0;
  while (copied < size) {
    size_t chunk = static_cast<size_t>(std::min(size - copied, kMaxSendfileChunk));
    ssize_t got = sendfile(out->fd, in_fd, &in_off, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return fail_body(out, got, size, body_offset, in_off, copied, err);
    copied += static_cast<uint64_t>(got);
  }
  return true;
}

// Starts writing the bytes that reached the file since the last call to the
// disk once there are enough of them; nothing waits for the disk.
void start_writeback(EntrySink *out) {
  uint64_t in_file = out->written - out->stage->used;
  if (in_file - out->writeback_from < kWritebackStep) return;
  sync_file_range(out->fd, static_cast<off_t>(out->writeback_from),
                  static_cast<off_t>(in_file - out->writeback_from), SYNC_FILE_RANGE_WRITE);
  out->writeback_from = in_file;
}

}  // namespace

WriterSettings default_writer_settings() {
  return WriterSettings{kBufferSize, kKernelCopyFrom};
}

bool stage_open(RequestStage *stage, size_t size, Failure *err) {
  size = std::max<size_t>(size, 1);
  *stage = RequestStage{static_cast<char *>(malloc(size)), 0, size};
  return stage->buf || out_of_memory(err, kFname, "output buffer", static_cast<long long>(size));
}

void stage_close(RequestStage *stage) {
  free(stage->buf);
  *stage = RequestStage{nullptr, 0, 0};
}

bool write_entry(EntrySink *out, const SeqData &rec, Failure *err) {
  const RunState &run = *out->run;
  out->head.clear();
  if (out->newline_pending) out->head.push_back('\n');
  // A head that cannot be composed ends the file where it is.
  if (!append_entry_head(run, &out->head, rec.service_id, rec.req_size, out->vvm_id, err))
    return false;
  int fdin = input_descriptor(out, rec.req_file_fp, err);
  if (fdin < 0) return false;
  if (run.log.debug_level)
    debug_log(run.log, 4, kFname, "sendfile args: fdout %d fdin %d off %ld size %lu\n", out->fd,
              fdin, static_cast<long>(rec.req_offset), rec.req_size);
  if (!put(out, out->head.data(), out->head.size(), err)) return false;
  out->newline_pending = false;  // it leads the head
  bool copied = rec.req_size >= out->kernel_copy_from
                    ? copy_body(out, fdin, rec.req_offset, rec.req_size, err)
                    : read_body(out, fdin, rec.req_offset, rec.req_size, err);
  if (!copied) return false;
  out->newline_pending = true;
  out->written += out->head.size() + rec.req_size;
  start_writeback(out);
  return true;
}

bool flush_entries(EntrySink *out, Failure *err) {
  return flush_or_fail(out, err);
}

bool finish_entries(EntrySink *out, Failure *err) {
  if (!flush_or_fail(out, err)) return false;
  if (out->newline_pending) {
    if (write(out->fd, "\n", 1) != 1)
      return fail(err, kFname, "Unable to write request in index_%d: %s", out->vvm_id,
                  strerror(errno));
    vtlb_digest_update(&out->digest, "\n", 1);
    out->newline_pending = false;
    out->written++;
  }
  // The rest of the file: nbytes 0 reaches its end.
  sync_file_range(out->fd, static_cast<off_t>(out->writeback_from), 0, SYNC_FILE_RANGE_WRITE);
  uint64_t planned = static_cast<uint64_t>(out->run->workers.vvm_list[out->vvm_id].offset);
  if (out->written != planned)
    return fail(err, trace_name::kProcessSequenceData,
                "vt_req_%d holds %lu bytes of entries where its index expects %lu", out->vvm_id,
                out->written, planned);
  return true;
}

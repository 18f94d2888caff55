// Writer threads of Step 4. Each thread takes the workers w with
// w % threads == its index, one after the other, and appends each worker's
// entries in time order: the head (preceded by the newline that ended the
// worker's previous entry) in one write, then the body, copied by the kernel
// from the input file with sendfile. The newline of a worker's last entry is
// written when the worker is done, or before a failure is reported, so the
// file always ends where an entry does, as far as the disk allows.
#include "tools/replay_gen/output/request_writer.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_entry.h"
#include "tools/replay_gen/records.h"

namespace {

const char *const kFname = "add_request_new";
const char *const kStepFname = "process_sequence_data_new";

// The most one sendfile call moves on Linux.
constexpr uint64_t kMaxSendfileChunk = 0x7ffff000;

// One worker's request file as its writer thread sees it.
struct EntrySink {
  int fd;
  int vvm_id;
  bool newline_pending;  // the last entry's "\n" is still to be written
  uint64_t written;      // bytes written to the file so far
  std::string head;      // the head being written, reused from entry to entry
};

struct WriterThread {
  pthread_t tid;
  int index;
  int threads;
  const uint8_t *entry_worker;
  uint64_t n;
  // What a vt_exit hook threw in this thread (unit tests only: the run's
  // vt_exit never returns); the main thread raises it again after the join.
  std::exception_ptr failure;
};

ssize_t write_once(int fd, const char *buf, size_t len) {
  ssize_t done;
  do {
    done = write(fd, buf, len);
  } while (done < 0 && errno == EINTR);
  return done;
}

// Ends the run from a writer thread; the newline still owed to the last
// whole entry is written first, as the entries used to end at once.
[[noreturn]] void fail(EntrySink &out, int status) {
  if (out.newline_pending && write_once(out.fd, "\n", 1) < 0) {
    // Nothing more can be done: the failure itself is reported already.
  }
  vt_exit(status);
}

int input_descriptor(EntrySink &out, FILE *fp) {
  int fd = fp ? fileno(fp) : -1;
  if (fd < 0) {
    error_log(1, kFname, "error in fileno(). seq_file_fp %p %s", static_cast<void *>(fp),
              strerror(fp ? errno : EBADF));
    fail(out, -1);
  }
  return fd;
}

// One write of the whole head; a short write counts as a failure. A pending
// newline leads the head, so any byte written settles it.
void write_head(EntrySink &out) {
  ssize_t done = write_once(out.fd, out.head.data(), out.head.size());
  if (done > 0) out.newline_pending = false;
  if (done < 0 || static_cast<size_t>(done) != out.head.size()) {
    error_log(1, kFname, "header write to output file (vt_req_xx) failed");
    fail(out, -1);
  }
}

// Copies size bytes at body_offset of in_fd to the end of the request file
// by the kernel, looping over interrupted and partial copies.
void copy_body(EntrySink &out, int in_fd, off_t body_offset, uint64_t size) {
  if (debug_level)
    debug_log(4, kFname, "sendfile args: fdout %d fdin %d off %ld size %lu\n", out.fd, in_fd,
              static_cast<long>(body_offset), size);
  off_t in_off = body_offset;
  uint64_t copied = 0;
  while (copied < size) {
    size_t chunk = static_cast<size_t>(std::min(size - copied, kMaxSendfileChunk));
    ssize_t got = sendfile(out.fd, in_fd, &in_off, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const char *why = got < 0 ? strerror(errno) : "input file ends before the body does";
      error_log(1, kFname,
                "sendfile error:%s ret %ld request_size %lu offset(in) %ld offset(out) %ld", why,
                got < 0 ? -1L : static_cast<long>(copied), size, static_cast<long>(body_offset),
                static_cast<long>(in_off));
      vt_exit(1);
    }
    copied += static_cast<uint64_t>(got);
  }
}

void write_entry(EntrySink &out, const SeqData &rec) {
  out.head.clear();
  if (out.newline_pending) out.head.push_back('\n');
  append_entry_head(&out.head, rec.service_id, rec.req_size, out.vvm_id);
  int fdin = input_descriptor(out, rec.req_file_fp);
  if (debug_level) debug_log(2, kFname, "fdin = %d", fdin);
  write_head(out);
  copy_body(out, fdin, rec.req_offset, rec.req_size);
  out.newline_pending = true;
  out.written += out.head.size() + rec.req_size;
}

// The last entry's newline; then the file must hold what the index says.
void finish_worker(EntrySink &out) {
  if (out.newline_pending) {
    if (write_once(out.fd, "\n", 1) != 1) {
      error_log(1, kFname, "Unable to write request in index_%d", out.vvm_id);
      vt_exit(-1);
    }
    out.newline_pending = false;
    out.written++;
  }
  uint64_t planned = static_cast<uint64_t>(vvm_list[out.vvm_id].offset);
  if (out.written != planned) {
    error_log(1, kStepFname, "vt_req_%d holds %lu bytes of entries where its index expects %lu",
              out.vvm_id, out.written, planned);
    vt_exit(-1);
  }
}

void write_worker(const WriterThread &t, int w) {
  EntrySink out{vvm_list[w].vt_req_file_fd, w, false, 0, {}};
  const uint8_t *at = t.entry_worker;
  const uint8_t *end = t.entry_worker + t.n;
  while ((at = static_cast<const uint8_t *>(memchr(at, w, static_cast<size_t>(end - at))))) {
    write_entry(out, seq_data_arr[at - t.entry_worker]);
    at++;
  }
  finish_worker(out);
}

void *writer_main(void *arg) {
  auto *t = static_cast<WriterThread *>(arg);
  try {
    for (int w = t->index; w < num_vvm; w += t->threads) write_worker(*t, w);
  } catch (...) {
    t->failure = std::current_exception();
  }
  return nullptr;
}

void join_writers(std::vector<WriterThread> &writers, int started) {
  for (int i = 0; i < started; i++) {
    if (pthread_join(writers[i].tid, nullptr) != 0) {
      error_log(1, kStepFname, "Request Writer Thread[%d] Failed", i);
      vt_exit(-1);
    }
  }
}

}  // namespace

int request_writer_threads(int num_cpu, int workers) {
  return std::max(1, std::min(num_cpu, workers));
}

void write_request_files(const uint8_t *entry_worker, uint64_t n, int threads) {
  if (debug_level) debug_log(2, kStepFname, "request writer threads = %d", threads);
  std::vector<WriterThread> writers(threads);
  for (int i = 0; i < threads; i++) {
    WriterThread &t = writers[i];
    t.index = i;
    t.threads = threads;
    t.entry_worker = entry_worker;
    t.n = n;
    if (pthread_create(&t.tid, nullptr, writer_main, &t) != 0) {
      join_writers(writers, i);
      error_log(1, kStepFname, "Failed to create Request Writer Thread[%d]", i);
      vt_exit(-1);
    }
  }
  join_writers(writers, threads);
  for (const WriterThread &t : writers)
    if (t.failure) std::rethrow_exception(t.failure);
}

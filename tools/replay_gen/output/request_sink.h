// How a writer thread puts entries into one worker's request file.
//
// An entry is its head, composed again from the record, then its body, read
// from the input file. The newline that ends an entry is written together
// with the next head of the same file, and after the file's last entry by
// finish_entries.
//
// Heads and bodies gather in the thread's output buffer, which goes to the
// file in one write whenever it is full: one large write costs far less than
// a system call or two per entry. A body is read into the buffer in place
// (pread), in pieces when it is larger than the room left, so no body is ever
// held whole. A body of kernel_copy_from bytes or more is instead copied by
// the kernel from the input file straight to the request file (sendfile),
// after the buffer: for large bodies one kernel copy costs less than reading
// them into the buffer and writing them out again. Either way the disk is
// asked to start writing every few megabytes of the file as soon as they are
// in it. Every byte bound for the file also goes through the file's digest
// on its way, so the digest costs no second reading of the file.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_SINK_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_SINK_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/core/digest.h"
#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

// How the writer threads write: the size of each thread's output buffer and
// the body size from which the kernel copies a body.
struct WriterSettings {
  size_t buffer_size;
  uint64_t kernel_copy_from;
};

// The measured best (README, Performance).
WriterSettings default_writer_settings();

// A writer thread's output buffer, used for one request file at a time. The
// threads' stages lie side by side: each has a cache line of its own, so
// that one thread's counting does not evict the other's.
struct alignas(64) RequestStage {
  char *buf;
  size_t used;  // bytes waiting for the file
  size_t cap;
};

// Allocates the buffer (at least one byte); false, with *err, when it cannot.
bool stage_open(RequestStage *stage, size_t size, Failure *err);
// Releases the buffer; the stage must be empty.
void stage_close(RequestStage *stage);

// One worker's request file as its writer thread fills it.
struct EntrySink {
  const RunState *run;
  int fd;
  int vvm_id;
  RequestStage *stage;
  uint64_t kernel_copy_from;  // bodies this large or larger: sendfile
  bool newline_pending;       // the last entry's "\n" is still to be written
  uint64_t written;           // bytes handed on for the file so far
  uint64_t writeback_from;    // the disk has been asked for the bytes before
  uint64_t kernel_copies;     // bodies copied by the kernel so far
  std::string head;           // the head being written, reused from entry to entry
  DigestState digest;         // of the bytes handed on for the file so far
};

// Appends rec's entry to the file, its final newline left pending. On a
// failure (false, with *err) the bytes handed on before it, and the newline
// of the last whole entry, have reached the file.
bool write_entry(EntrySink *out, const SeqData &rec, Failure *err);

// Puts the buffered bytes into the file, the last newline still owed.
bool flush_entries(EntrySink *out, Failure *err);

// Puts the buffered bytes and the last newline into the file, then fails if
// the file did not get exactly the bytes that its index expects. The digest
// then covers the whole file.
bool finish_entries(EntrySink *out, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_SINK_H_

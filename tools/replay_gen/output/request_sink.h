// How a writer thread puts entries into one worker's request file.
//
// An entry is its head, composed again from the record, then its body,
// copied by the kernel from the input file with sendfile; it never passes
// through the tool's memory. The newline that ends an entry is written
// together with the next head of the same file, and after the file's last
// entry by finish_entries.
//
// With a staging pipe, heads (handed over by reference with vmsplice) and
// bodies (sendfile into the pipe) gather in the pipe and reach the file in
// blocks of up to the pipe's size: one large write costs the file system far
// less than a small write per piece. Without one, each piece is written to
// the file at once. Either way the disk is asked to start writing every few
// megabytes of the file as soon as they are in it.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_SINK_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_SINK_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tools/replay_gen/records.h"

// A writer thread's staging pipe, used for one request file at a time.
struct RequestStage {
  int pipe_r;
  int pipe_w;         // -1: no pipe, the pieces go straight to the file
  char *arena;        // staged heads point here until the pipe is drained
  size_t arena_used;  // bytes of arena in use
  size_t arena_cap;
  uint64_t staged;  // bytes in the pipe
};

// Opens the pipe and its arena, unless use_pipe is false or the system
// refuses them: then the stage writes straight to the file.
void stage_open(RequestStage *stage, bool use_pipe);
// Releases the pipe and the arena; the stage must be drained.
void stage_close(RequestStage *stage);

// One worker's request file as its writer thread fills it.
struct EntrySink {
  int fd;
  int vvm_id;
  RequestStage *stage;
  bool newline_pending;     // the last entry's "\n" is still to be written
  uint64_t written;         // bytes handed on for the file so far
  uint64_t writeback_from;  // the disk has been asked for the bytes before
  std::string head;         // the head being written, reused from entry to entry
};

// Appends rec's entry to the file, its final newline left pending. A failure
// is reported and ends the run, after the bytes handed on before it, and the
// newline of the last whole entry, have reached the file.
void write_entry(EntrySink *out, const SeqData &rec);

// Puts the staged bytes and the last newline into the file, then ends the run
// if the file did not get exactly the bytes that its index expects.
void finish_entries(EntrySink *out);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_SINK_H_

// The writers of Step 4: once entries have their places, they are written to
// the workers' request files by one thread per group of workers. Worker w is
// written by thread w % threads, its entries in time order; the entries may
// come in several batches (a run that spills plans them batch by batch),
// each worker's file and buffer state carried from one batch to the next.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_

#include <stdint.h>

#include <vector>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/output/request_sink.h"
#include "tools/replay_gen/records.h"
#include "tools/replay_gen/run_state.h"

// Writer threads for `workers` request files on a machine of num_cpu
// processors (0 or less when unknown): one per processor, at most one per
// worker, at least one.
int request_writer_threads(int num_cpu, int workers);

// The writers of one Step 4: an output buffer per thread, a sink per worker.
struct RequestWriters {
  RunState *run = nullptr;
  int threads = 1;
  std::vector<RequestStage> stages;
  std::vector<EntrySink> sinks;
};

bool writers_open(RunState &run, RequestWriters *w, int threads, const WriterSettings &settings,
                  Failure *err);

// Writes the entry of each of the n records recs (in time order) to the
// request file of worker entry_worker[i]; each worker's bytes are in its
// file when this returns but for the newline owed to its last entry. After
// the last batch (last true) each worker's file also gets that newline and
// is checked to have grown by exactly vvm_list[w].offset bytes, and its
// digest goes to run.manifest.request_digest[w]. A thread that fails stops
// the others; its failure (the lowest thread's) is the batch's.
bool write_request_batch(RequestWriters *w, const SeqData *recs, const uint8_t *entry_worker,
                         uint64_t n, bool last, Failure *err);

// Releases the buffers.
void writers_close(RequestWriters *w);

// All of it over the first n records of seq_data_arr at once; the bytes are
// the same with any settings (request_sink.h).
bool write_request_files(RunState &run, const uint8_t *entry_worker, uint64_t n, int threads,
                         const WriterSettings &settings, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_

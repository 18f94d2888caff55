// The writers of Step 4: once every entry has its place, the entries are
// written to the workers' request files by one thread per group of workers.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_

#include <stdint.h>

// Writer threads for `workers` request files on a machine of num_cpu
// processors (0 or less when unknown): one per processor, at most one per
// worker, at least one.
int request_writer_threads(int num_cpu, int workers);

// Writes the entry of each of the first n records of seq_data_arr (in time
// order) to the request file of worker entry_worker[i]. Worker w is written
// by thread w % threads, its entries in time order; each worker's file grows
// by exactly vvm_list[w].offset bytes. With use_pipe each thread stages the
// entries in a pipe (request_sink.h); without, it writes them directly. The
// bytes are the same. A failure ends the run.
void write_request_files(const uint8_t *entry_worker, uint64_t n, int threads, bool use_pipe);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_

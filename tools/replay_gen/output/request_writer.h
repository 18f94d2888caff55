// The writers of Step 4: once every entry has its place, the entries are
// written to the workers' request files by one thread per group of workers.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_

#include <stdint.h>

#include "tools/replay_gen/output/request_sink.h"

// Writer threads for `workers` request files on a machine of num_cpu
// processors (0 or less when unknown): one per processor, at most one per
// worker, at least one.
int request_writer_threads(int num_cpu, int workers);

// Writes the entry of each of the first n records of seq_data_arr (in time
// order) to the request file of worker entry_worker[i]. Worker w is written
// by thread w % threads, its entries in time order; each worker's file grows
// by exactly vvm_list[w].offset bytes, through a buffer and body copies as
// settings say (request_sink.h); the bytes are the same with any settings.
// Each file's SHA-256 goes to run.manifest.request_sha256[w]. A failure ends
// the run.
void write_request_files(const uint8_t *entry_worker, uint64_t n, int threads,
                         const WriterSettings &settings);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_WRITER_H_

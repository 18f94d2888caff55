// Step 2: the loader threads and the merge of their results.
#ifndef VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_
#define VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Reads every file of seq_file_path in g_num_thread threads (0: chosen from
// the CPU count) and merges their records into seq_data_arr, their counters
// into the g_ counters and their services into the service table. A thread
// that fails stops the others; its failure (the lowest thread's, when more
// than one failed) is the step's.
bool load_input_data_files(RunState &run, Failure *err);

// Thread function; argv is the thread's ThreadArgs.
void *load_input_data_files_t(void *argv);

// Automatic thread count for num_cpu CPUs and num_files input files.
void set_num_threads(int16_t *num_thread, int num_cpu, int num_files);

// The per-file table of records met.
void print_log_file_info(const RunState &run);

#endif  // VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

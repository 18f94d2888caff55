// Step 2: the loader threads and the merge of their results.
#ifndef VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_
#define VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

#include <stdint.h>

// Reads every file of seq_file_path in g_num_thread threads (0: chosen from
// the CPU count) and merges their records into seq_data_arr, their counters
// into the g_ counters and their services into the service table.
void load_input_data_files();

// Thread function; argv is the thread's ThreadArgs.
void *load_input_data_files_t(void *argv);

// Automatic thread count for num_cpu CPUs and num_files input files.
void set_num_threads(int16_t *num_thread, int num_cpu, int num_files);

// The per-file table of records met.
void print_log_file_info();

#endif  // VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

// Step 2: the loader threads and the merge of their results.
#ifndef VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_
#define VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

#include <stddef.h>
#include <stdint.h>

// Reads every file of seq_file_path in g_num_thread threads (0: chosen from
// the CPU count) and merges their records into seq_data_arr, their counters
// into the g_ counters and their services into the service table.
void load_input_data_files();

// Thread function; argv is the thread's ThreadArgs.
void *load_input_data_files_t(void *argv);

// Automatic thread count for num_cpu CPUs and num_files input files.
void set_num_threads(int16_t *num_thread, int num_cpu, int num_files);

// Most loader threads -n may ask for.
constexpr int kMaxLoaderThreads = 1024;
// Room of an error log path "<replay_dir>/error.log.<id>", its NUL included.
constexpr size_t kErrorLogPathSize = 512;

// Ends the run (from fname) when the error log path of the highest of
// num_threads threads does not fit kErrorLogPathSize.
void check_error_log_path(int num_threads, const char *fname);

// The per-file table of records met.
void print_log_file_info();

#endif  // VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

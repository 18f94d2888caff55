// Step 2: the loader threads and the merge of their results.
#ifndef VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_
#define VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

void load_input_data_files();
void print_log_file_info();

#endif  // VT_REPLAY_GEN_LOADER_PARALLEL_LOADER_H_

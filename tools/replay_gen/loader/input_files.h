// Step 1: the list of input log files.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_FILES_H_
#define VT_REPLAY_GEN_LOADER_INPUT_FILES_H_

void gen_input_file_list();

#endif  // VT_REPLAY_GEN_LOADER_INPUT_FILES_H_

// Step 4: users, workers and the request files.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_

void init_vvm_data();
void process_sequence_data_new();

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_FILES_H_

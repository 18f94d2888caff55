// The index file of every worker.
#ifndef VT_REPLAY_GEN_OUTPUT_INDEX_FILES_H_
#define VT_REPLAY_GEN_OUTPUT_INDEX_FILES_H_

void write_vortan_index_file();

#endif  // VT_REPLAY_GEN_OUTPUT_INDEX_FILES_H_

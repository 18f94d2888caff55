// The service log record parser: one pass over one input file.
#ifndef VT_REPLAY_GEN_LOADER_RECORD_PARSER_H_
#define VT_REPLAY_GEN_LOADER_RECORD_PARSER_H_

#include <stdint.h>
#include <stdio.h>

#include "tools/replay_gen/records.h"

// Reads seq_file (open as seq_file_fp, at its start) to its end. Accepted
// records go to threadData->t_seq_data_arr from position *seq_no on, and
// *seq_no advances by their number; rejected ones are counted and written to
// the thread's error log. index is the file's position in seq_file_path. The
// stream stays open: accepted records keep it to copy their bodies later.
// False, with the thread's failure, when the file cannot be read or a
// record kept; true, early, once another thread failed (stop is set).
bool load_sequence_file_new(ThreadArgs *threadData, const char *seq_file, FILE *seq_file_fp,
                            uint64_t *seq_no, int32_t index);

#endif  // VT_REPLAY_GEN_LOADER_RECORD_PARSER_H_

// Step 3: ordering of the records and their user sessions.
#ifndef VT_REPLAY_GEN_SEQUENCING_SEQUENCE_ORDER_H_
#define VT_REPLAY_GEN_SEQUENCING_SEQUENCE_ORDER_H_

#include <stdint.h>

void sort_seq_array(uint64_t n);
// Sorts seq_data_arr by time before Step 4.
void sort_seq_data_by_time(uint64_t n);

#endif  // VT_REPLAY_GEN_SEQUENCING_SEQUENCE_ORDER_H_

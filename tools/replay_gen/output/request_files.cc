#include "tools/replay_gen/output/request_files.h"

void init_vvm_data() {}

void process_sequence_data_new() {}

#include "tools/replay_gen/loader/parallel_loader.h"

void load_input_data_files() {}

void print_log_file_info() {}

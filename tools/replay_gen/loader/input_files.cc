#include "tools/replay_gen/loader/input_files.h"

void gen_input_file_list() {}

#include "tools/replay_gen/output/gen_input_file.h"

void create_file_for_vtu_gen_script() {}

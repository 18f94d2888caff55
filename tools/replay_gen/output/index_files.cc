#include "tools/replay_gen/output/index_files.h"

void write_vortan_index_file() {}

#include "tools/replay_gen/output/script_gen.h"

void create_script() {}

#include "tools/replay_gen/output/scenario.h"

void create_scenario() {}

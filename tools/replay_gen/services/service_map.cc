#include "tools/replay_gen/services/service_map.h"

void rename_service_names() {}

void print_service_info() {}

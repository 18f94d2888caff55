#include "tools/replay_gen/services/request_head.h"

void append_all_headers() {}

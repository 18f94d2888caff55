#include <stdio.h>

#include "tools/replay_gen/helpers.h"

// The arithmetic wraps like the 32-bit signed numbers it models; durations
// above about 596 hours are not guarded.
int32_t get_time_from_format_local(const char *str) {
  int f1 = 0, f2 = 0, f3 = 0, f4 = 0;
  uint32_t ms;
  switch (sscanf(str, "%d:%d:%d.%d", &f1, &f2, &f3, &f4)) {
    case 1:
      ms = static_cast<uint32_t>(f1) * 1000u;
      break;
    case 2:
      ms = (static_cast<uint32_t>(f1) * 60u + static_cast<uint32_t>(f2)) * 1000u;
      break;
    case 3:  // f4 stays 0
    case 4:
      ms = (static_cast<uint32_t>(f1) * 3600u + static_cast<uint32_t>(f2) * 60u +
            static_cast<uint32_t>(f3)) *
               1000u +
           static_cast<uint32_t>(f4);
      break;
    default:
      return 60000;
  }
  return static_cast<int32_t>(ms);
}

int64_t duration_ms_whole(const char *str) {
  long long f1 = 0, f2 = 0, f3 = 0, f4 = 0;
  __int128 ms;
  switch (sscanf(str, "%lld:%lld:%lld.%lld", &f1, &f2, &f3, &f4)) {
    case 1:
      ms = static_cast<__int128>(f1) * 1000;
      break;
    case 2:
      ms = (static_cast<__int128>(f1) * 60 + f2) * 1000;
      break;
    case 3:  // f4 stays 0
    case 4:
      ms = (static_cast<__int128>(f1) * 3600 + static_cast<__int128>(f2) * 60 + f3) * 1000 + f4;
      break;
    default:
      return 60000;
  }
  if (ms > INT64_MAX) return INT64_MAX;
  if (ms < INT64_MIN) return INT64_MIN;
  return static_cast<int64_t>(ms);
}

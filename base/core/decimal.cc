#include "base/core/decimal.h"

size_t vtlb_read_u64(const char *s, size_t len, uint64_t *v, bool *too_big) {
  size_t i = 0;
  uint64_t x = 0;
  *too_big = false;
  for (; i < len && s[i] >= '0' && s[i] <= '9'; i++) {
    unsigned d = static_cast<unsigned>(s[i] - '0');
    if (*too_big || x > (UINT64_MAX - d) / 10) {
      *too_big = true;
      x = UINT64_MAX;
      continue;
    }
    x = x * 10 + d;
  }
  *v = x;
  return i;
}

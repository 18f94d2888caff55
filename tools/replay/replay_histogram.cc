#include "tools/replay/replay_histogram.h"

#include <math.h>

namespace {

constexpr int kExactBelow = 256;  // values with a bucket each
constexpr int kSubBits = 7;       // 128 buckets per power of two above
constexpr int kBuckets = kExactBelow + (63 - 8 + 1) * (1 << kSubBits);

int bucket_of(uint64_t v) {
  if (v < kExactBelow) return static_cast<int>(v);
  int e = 63 - __builtin_clzll(v);  // 8 .. 63
  int shift = e - kSubBits;
  return kExactBelow + (e - 8) * (1 << kSubBits) +
         static_cast<int>((v >> shift) - (1u << kSubBits));
}

// Lowest value and width of bucket b.
void bucket_range(int b, uint64_t *low, uint64_t *width) {
  if (b < kExactBelow) {
    *low = static_cast<uint64_t>(b);
    *width = 1;
    return;
  }
  int e = (b - kExactBelow) / (1 << kSubBits) + 8;
  uint64_t sub = static_cast<uint64_t>((b - kExactBelow) % (1 << kSubBits));
  int shift = e - kSubBits;
  *low = ((uint64_t{1} << kSubBits) + sub) << shift;
  *width = uint64_t{1} << shift;
}

}  // namespace

void histogram_add(LogHistogram *h, uint64_t value) {
  if (h->counts.empty()) h->counts.assign(kBuckets, 0);
  h->counts[bucket_of(value)]++;
  if (h->total == 0 || value < h->min) h->min = value;
  if (h->total == 0 || value > h->max) h->max = value;
  h->total++;
}

void histogram_merge(LogHistogram *into, const LogHistogram &from) {
  if (from.total == 0) return;
  if (into->counts.empty()) into->counts.assign(kBuckets, 0);
  for (int b = 0; b < kBuckets; b++) into->counts[b] += from.counts[b];
  if (into->total == 0 || from.min < into->min) into->min = from.min;
  if (into->total == 0 || from.max > into->max) into->max = from.max;
  into->total += from.total;
}

uint64_t histogram_percentile(const LogHistogram &h, double percent) {
  if (h.total == 0) return 0;
  if (percent >= 100) return h.max;
  double wanted = ceil(percent / 100 * static_cast<double>(h.total));
  uint64_t rank = wanted < 1 ? 1 : static_cast<uint64_t>(wanted);
  uint64_t seen = 0;
  for (int b = 0; b < kBuckets; b++) {
    seen += h.counts[b];
    if (seen < rank) continue;
    uint64_t low, width;
    bucket_range(b, &low, &width);
    uint64_t mid = low + width / 2;
    if (mid < h.min) return h.min;
    if (mid > h.max) return h.max;
    return mid;
  }
  return h.max;
}

#include "base/figures/replay_histogram.h"

#include <math.h>

namespace {

constexpr int kExactBelow = 256;  // values with a bucket each
constexpr int kSubBits = 7;       // 128 buckets per power of two above
constexpr int kBlock = 128;       // buckets per block of counts
constexpr int kBlocks = kHistogramBuckets / kBlock;

uint64_t &slot(LogHistogram *h, int b) {
  if (h->blocks.empty()) h->blocks.resize(kBlocks);
  std::vector<uint64_t> &block = h->blocks[static_cast<size_t>(b / kBlock)];
  if (block.empty()) block.assign(kBlock, 0);
  return block[static_cast<size_t>(b % kBlock)];
}

}  // namespace

int histogram_bucket(uint64_t v) {
  if (v < kExactBelow) return static_cast<int>(v);
  int e = 63 - __builtin_clzll(v);  // 8 .. 63
  int shift = e - kSubBits;
  return kExactBelow + (e - 8) * (1 << kSubBits) +
         static_cast<int>((v >> shift) - (1u << kSubBits));
}

void histogram_bucket_range(int b, uint64_t *low, uint64_t *width) {
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

void histogram_add(LogHistogram *h, uint64_t value) {
  slot(h, histogram_bucket(value))++;
  if (h->total == 0 || value < h->min) h->min = value;
  if (h->total == 0 || value > h->max) h->max = value;
  h->total++;
  h->sum += value;
}

bool histogram_add_to_bucket(LogHistogram *h, int bucket, uint64_t count) {
  if (bucket < 0 || bucket >= kHistogramBuckets) return false;
  if (count) slot(h, bucket) += count;
  return true;
}

void histogram_merge(LogHistogram *into, const LogHistogram &from) {
  if (from.total == 0) return;
  histogram_each(from, [into](int b, uint64_t n) { slot(into, b) += n; });
  if (into->total == 0 || from.min < into->min) into->min = from.min;
  if (into->total == 0 || from.max > into->max) into->max = from.max;
  into->total += from.total;
  into->sum += from.sum;
}

uint64_t histogram_percentile(const LogHistogram &h, double percent) {
  if (h.total == 0) return 0;
  if (percent >= 100) return h.max;
  double wanted = ceil(percent / 100 * static_cast<double>(h.total));
  uint64_t rank = wanted < 1 ? 1 : static_cast<uint64_t>(wanted);
  uint64_t seen = 0;
  for (size_t block = 0; block < h.blocks.size(); block++) {
    const std::vector<uint64_t> &counts = h.blocks[block];
    for (size_t i = 0; i < counts.size(); i++) {
      seen += counts[i];
      if (seen < rank) continue;
      uint64_t low, width;
      histogram_bucket_range(static_cast<int>(block * kBlock + i), &low, &width);
      uint64_t mid = low + width / 2;
      if (mid < h.min) return h.min;
      if (mid > h.max) return h.max;
      return mid;
    }
  }
  return h.max;
}

double histogram_mean(const LogHistogram &h) {
  return h.total ? static_cast<double>(h.sum) / static_cast<double>(h.total) : 0;
}

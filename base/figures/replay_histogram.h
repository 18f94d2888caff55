// Log-bucketed histogram of non-negative 64-bit values (nanoseconds in
// vt_replay). Values below 256 have a bucket each; above, every power of two
// is cut into 128 equal buckets, so a bucket is at most 1/128 of its lower
// bound wide and a percentile read at the bucket's midpoint is within 1/256
// (0.4%) of a value in that bucket. The counts are kept in blocks of 128
// buckets (1 KB), one per power of two, made when a value first falls in it:
// at most 59 KB, whatever the number of samples, and a few KB for values
// that span a few powers of two (a page's latencies).
#ifndef VT_BASE_FIGURES_REPLAY_HISTOGRAM_H_
#define VT_BASE_FIGURES_REPLAY_HISTOGRAM_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct LogHistogram {
  std::vector<std::vector<uint64_t>> blocks;  // empty until the first sample
  uint64_t total = 0;
  uint64_t min = 0, max = 0;
  uint64_t sum = 0;  // of all values, for the mean (wraps after 584 years of nanoseconds)
};

// The stated bound on the relative error of histogram_percentile.
constexpr double kHistogramRelativeError = 1.0 / 256;
// Buckets of a histogram: indexes 0 .. kHistogramBuckets - 1.
constexpr int kHistogramBuckets = 256 + (63 - 8 + 1) * 128;

void histogram_add(LogHistogram *h, uint64_t value);
void histogram_merge(LogHistogram *into, const LogHistogram &from);

// The value below or at which `percent` (0 to 100) of the samples lie, read
// from its bucket; 0 when there are no samples. 100 gives the exact maximum.
uint64_t histogram_percentile(const LogHistogram &h, double percent);
// The mean of the samples, 0 when there are none.
double histogram_mean(const LogHistogram &h);

// The bucket of a value, and the lowest value and width of a bucket.
int histogram_bucket(uint64_t value);
void histogram_bucket_range(int bucket, uint64_t *low, uint64_t *width);

// Every bucket that holds samples, in order: fn(bucket, count).
template <typename Fn>
void histogram_each(const LogHistogram &h, Fn fn) {
  for (size_t b = 0; b < h.blocks.size(); b++)
    for (size_t i = 0; i < h.blocks[b].size(); i++)
      if (h.blocks[b][i]) fn(static_cast<int>(b * 128 + i), h.blocks[b][i]);
}

// Adds count samples to a bucket without touching total, min, max or sum:
// for reading a histogram back from its buckets. False for a bucket out of
// range.
bool histogram_add_to_bucket(LogHistogram *h, int bucket, uint64_t count);

#endif  // VT_BASE_FIGURES_REPLAY_HISTOGRAM_H_

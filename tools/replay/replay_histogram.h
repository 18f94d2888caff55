// Log-bucketed histogram of non-negative 64-bit values (nanoseconds in
// vt_replay). Values below 256 have a bucket each; above, every power of two
// is cut into 128 equal buckets, so a bucket is at most 1/128 of its lower
// bound wide and a percentile read at the bucket's midpoint is within 1/256
// (0.4%) of a value in that bucket. Memory is fixed (about 59 KB), whatever
// the number of samples.
#ifndef VT_TOOLS_REPLAY_REPLAY_HISTOGRAM_H_
#define VT_TOOLS_REPLAY_REPLAY_HISTOGRAM_H_

#include <stdint.h>

#include <vector>

struct LogHistogram {
  std::vector<uint64_t> counts;  // empty until the first sample
  uint64_t total = 0;
  uint64_t min = 0, max = 0;
};

// The stated bound on the relative error of histogram_percentile.
constexpr double kHistogramRelativeError = 1.0 / 256;

void histogram_add(LogHistogram *h, uint64_t value);
void histogram_merge(LogHistogram *into, const LogHistogram &from);

// The value below or at which `percent` (0 to 100) of the samples lie, read
// from its bucket; 0 when there are no samples. 100 gives the exact maximum.
uint64_t histogram_percentile(const LogHistogram &h, double percent);

#endif  // VT_TOOLS_REPLAY_REPLAY_HISTOGRAM_H_

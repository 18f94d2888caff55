// The replay over time, for the page of a run: time since the start cut into
// columns of a power-of-two number of milliseconds, each with its planned,
// sent, answered and failed requests (the failures by status or error kind)
// and coarse histograms of latency and lag. A run starts with columns that
// cut its planned span into at most 256; a column beyond 512 makes them all
// twice as wide. Memory: up to about 16 KB per column (its two coarse
// histograms at their widest), at most 512 columns.
#ifndef VT_BASE_FIGURES_REPLAY_TIMELINE_H_
#define VT_BASE_FIGURES_REPLAY_TIMELINE_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <vector>

// 16 buckets per power of two (values below 32 a bucket each), read at the
// bucket's midpoint: within 1/32 of a sample of the bucket. Enough for a
// chart; the report's own figures come from the finer LogHistogram.
struct CoarseHistogram {
  std::vector<uint64_t> counts;  // grows to the highest bucket used
  uint64_t total = 0;
};
constexpr double kCoarseRelativeError = 1.0 / 32;
constexpr int kCoarseBuckets = 32 + (63 - 5 + 1) * 16;

int coarse_bucket(uint64_t value);
void coarse_add(CoarseHistogram *h, uint64_t value, uint64_t count = 1);
// Adds count samples to a bucket (reading a histogram back); false when the
// bucket is out of range.
bool coarse_add_to_bucket(CoarseHistogram *h, int bucket, uint64_t count);
void coarse_merge(CoarseHistogram *into, const CoarseHistogram &from);
// The value at `percent` (0 to 100) of the samples, 0 without samples.
uint64_t coarse_percentile(const CoarseHistogram &h, double percent);

// Failures of a column are keyed by status code, or by error kind k as -1-k.
constexpr int replay_error_key(int kind) {
  return -1 - kind;
}

struct ReplayColumn {
  uint64_t planned = 0;    // requests due in the column
  uint64_t sent = 0;       // first byte written in the column
  uint64_t completed = 0;  // whole answers of requests sent in the column
  uint64_t failed = 0;     // of the requests sent in it (or, unsent, that failed in it)
  std::map<int, uint64_t> failures;
  CoarseHistogram latency_ns, lag_ns;  // by send time
  uint64_t lag_max_ns = 0;
};

constexpr size_t kTimelineColumns = 512;

struct ReplayTimeline {
  uint64_t column_ms = 1;  // a power of two
  std::vector<ReplayColumn> columns;
};

// Columns that cut span_ms into at most 256.
void timeline_begin(ReplayTimeline *t, uint64_t span_ms);
// The column of a moment (ns since the start), made wider as needed.
ReplayColumn &timeline_column(ReplayTimeline *t, int64_t at_ns);
// Makes the columns column_ms wide (a power of two at least as wide).
void timeline_widen(ReplayTimeline *t, uint64_t column_ms);
// Adds `from`, whose start lies shift_ms (at least 0) after this one's.
void timeline_merge(ReplayTimeline *into, const ReplayTimeline &from, uint64_t shift_ms);

#endif  // VT_BASE_FIGURES_REPLAY_TIMELINE_H_

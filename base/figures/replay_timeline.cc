#include "base/figures/replay_timeline.h"

#include <math.h>

int coarse_bucket(uint64_t v) {
  if (v < 32) return static_cast<int>(v);
  int e = 63 - __builtin_clzll(v);  // 5 .. 63
  return 32 + (e - 5) * 16 + static_cast<int>((v >> (e - 4)) - 16);
}

namespace {

// The midpoint of a bucket.
uint64_t coarse_value(int b) {
  if (b < 32) return static_cast<uint64_t>(b);
  int e = (b - 32) / 16 + 5;
  uint64_t sub = static_cast<uint64_t>((b - 32) % 16);
  int shift = e - 4;
  return ((16 + sub) << shift) + (uint64_t{1} << shift) / 2;
}

void merge_column(ReplayColumn *into, const ReplayColumn &from) {
  into->planned += from.planned;
  into->sent += from.sent;
  into->completed += from.completed;
  into->failed += from.failed;
  for (const auto &[key, n] : from.failures) into->failures[key] += n;
  coarse_merge(&into->latency_ns, from.latency_ns);
  coarse_merge(&into->lag_ns, from.lag_ns);
  if (from.lag_max_ns > into->lag_max_ns) into->lag_max_ns = from.lag_max_ns;
}

}  // namespace

bool coarse_add_to_bucket(CoarseHistogram *h, int b, uint64_t count) {
  if (b < 0 || b >= kCoarseBuckets) return false;
  if (h->counts.size() <= static_cast<size_t>(b)) h->counts.resize(static_cast<size_t>(b) + 1, 0);
  h->counts[static_cast<size_t>(b)] += count;
  h->total += count;
  return true;
}

void coarse_add(CoarseHistogram *h, uint64_t value, uint64_t count) {
  coarse_add_to_bucket(h, coarse_bucket(value), count);
}

void coarse_merge(CoarseHistogram *into, const CoarseHistogram &from) {
  for (size_t b = 0; b < from.counts.size(); b++)
    if (from.counts[b]) coarse_add_to_bucket(into, static_cast<int>(b), from.counts[b]);
}

uint64_t coarse_percentile(const CoarseHistogram &h, double percent) {
  if (h.total == 0) return 0;
  double wanted = ceil(percent / 100 * static_cast<double>(h.total));
  uint64_t rank = wanted < 1 ? 1 : static_cast<uint64_t>(wanted);
  uint64_t seen = 0;
  for (size_t b = 0; b < h.counts.size(); b++) {
    seen += h.counts[b];
    if (seen >= rank) return coarse_value(static_cast<int>(b));
  }
  return coarse_value(static_cast<int>(h.counts.size()) - 1);
}

void timeline_begin(ReplayTimeline *t, uint64_t span_ms) {
  *t = ReplayTimeline{};
  while (span_ms / t->column_ms >= kTimelineColumns / 2) t->column_ms *= 2;
}

void timeline_widen(ReplayTimeline *t, uint64_t column_ms) {
  if (column_ms <= t->column_ms) return;
  uint64_t factor = column_ms / t->column_ms;
  std::vector<ReplayColumn> wide((t->columns.size() + factor - 1) / factor);
  for (size_t c = 0; c < t->columns.size(); c++) merge_column(&wide[c / factor], t->columns[c]);
  t->columns = std::move(wide);
  t->column_ms = column_ms;
}

ReplayColumn &timeline_column(ReplayTimeline *t, int64_t at_ns) {
  uint64_t at_ms = at_ns > 0 ? static_cast<uint64_t>(at_ns) / 1000000 : 0;
  uint64_t c = at_ms / t->column_ms;
  if (c >= kTimelineColumns) {
    uint64_t wider = t->column_ms;
    while (at_ms / wider >= kTimelineColumns) wider *= 2;
    timeline_widen(t, wider);
    c = at_ms / t->column_ms;
  }
  if (c >= t->columns.size()) t->columns.resize(c + 1);
  return t->columns[c];
}

void timeline_merge(ReplayTimeline *into, const ReplayTimeline &from, uint64_t shift_ms) {
  ReplayTimeline copy;
  const ReplayTimeline *source = &from;
  if (from.column_ms < into->column_ms) {
    copy = from;
    timeline_widen(&copy, into->column_ms);
    source = &copy;
  } else {
    timeline_widen(into, from.column_ms);
  }
  for (size_t c = 0; c < source->columns.size(); c++) {
    const ReplayColumn &col = source->columns[c];
    if (col.planned == 0 && col.sent == 0 && col.failed == 0 && col.completed == 0) continue;
    uint64_t at_ms = shift_ms + c * source->column_ms;
    merge_column(&timeline_column(into, static_cast<int64_t>(at_ms * 1000000)), col);
  }
}

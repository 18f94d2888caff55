#include "tools/replay/replay_stats.h"

#include <algorithm>

const char *const kReplayErrorNames[kErrorKinds] = {"connect", "tls", "reset", "timeout", "parse"};

void tally_planned(ReplayStats *s, uint32_t w, int64_t planned_ns) {
  s->workers[w].counts.planned++;
  s->counts.planned++;
  timeline_column(&s->timeline, planned_ns).planned++;
}

void tally_outcome(ReplayStats *s, const ReplayOutcome &o) {
  ReplayCounts *counts[] = {&s->counts, &s->workers[o.worker].counts, nullptr};
  ReplayPageStats &page = s->pages[o.page];
  counts[2] = &page.counts;
  bool sent = o.sent_ns >= 0;
  ReplayColumn &column = timeline_column(&s->timeline, sent ? o.sent_ns : o.ended_ns);
  if (sent) {
    uint64_t lag = static_cast<uint64_t>(std::max<int64_t>(0, o.sent_ns - o.planned_ns));
    histogram_add(&s->lag_ns, lag);
    coarse_add(&column.lag_ns, lag);
    column.lag_max_ns = std::max(column.lag_max_ns, lag);
    column.sent++;
    for (ReplayCounts *c : counts) c->sent++;
  }
  bool failed;
  if (o.status > 0) {
    for (ReplayCounts *c : counts) c->completed++;
    s->status[o.status]++;
    histogram_add(&s->latency_ns, o.latency_ns);
    histogram_add(&s->workers[o.worker].latency_ns, o.latency_ns);
    histogram_add(&page.latency_ns, o.latency_ns);
    coarse_add(&column.latency_ns, o.latency_ns);
    column.completed++;
    failed = !o.ok;
    if (failed)
      for (ReplayCounts *c : counts) c->bad_status++;
  } else {
    for (ReplayCounts *c : counts) c->errors++;
    s->errors[o.error_kind]++;
    failed = true;
  }
  if (failed) {
    column.failed++;
    column.failures[o.status > 0 ? o.status : replay_error_key(o.error_kind)]++;
  }
  s->bytes_sent += o.bytes_out;
  s->bytes_received += o.bytes_in;
}

void add_replay_counts(ReplayCounts *into, const ReplayCounts &from) {
  into->planned += from.planned;
  into->sent += from.sent;
  into->completed += from.completed;
  into->errors += from.errors;
  into->bad_status += from.bad_status;
}

void merge_replay_stats(ReplayStats *into, const ReplayStats &from, uint64_t shift_ms) {
  add_replay_counts(&into->counts, from.counts);
  for (int k = 0; k < kErrorKinds; k++) into->errors[k] += from.errors[k];
  for (const auto &[code, n] : from.status) into->status[code] += n;
  for (const auto &[page, p] : from.pages) {
    ReplayPageStats &to = into->pages[page];
    add_replay_counts(&to.counts, p.counts);
    histogram_merge(&to.latency_ns, p.latency_ns);
  }
  for (const ReplayWorkerStats &w : from.workers) {
    auto at = std::lower_bound(
        into->workers.begin(), into->workers.end(), w.number,
        [](const ReplayWorkerStats &x, int number) { return x.number < number; });
    if (at == into->workers.end() || at->number != w.number) {
      ReplayWorkerStats fresh;
      fresh.number = w.number;
      fresh.users = w.users;
      at = into->workers.insert(at, fresh);
    }
    add_replay_counts(&at->counts, w.counts);
    histogram_merge(&at->latency_ns, w.latency_ns);
  }
  histogram_merge(&into->latency_ns, from.latency_ns);
  histogram_merge(&into->lag_ns, from.lag_ns);
  into->bytes_sent += from.bytes_sent;
  into->bytes_received += from.bytes_received;
  timeline_merge(&into->timeline, from.timeline, shift_ms);
  into->max_in_flight += from.max_in_flight;
  into->bytes_per_in_flight = std::max(into->bytes_per_in_flight, from.bytes_per_in_flight);
  into->retries += from.retries;
  into->tls.handshakes += from.tls.handshakes;
  into->tls.resumed += from.tls.resumed;
  histogram_merge(&into->tls.handshake_ns, from.tls.handshake_ns);
  if (into->tls.first_failure.empty()) into->tls.first_failure = from.tls.first_failure;
  if (into->rewrites.size() < from.rewrites.size()) into->rewrites.resize(from.rewrites.size());
  for (size_t r = 0; r < from.rewrites.size(); r++) {
    into->rewrites[r].replaced += from.rewrites[r].replaced;
    into->rewrites[r].added += from.rewrites[r].added;
    into->rewrites[r].removed += from.rewrites[r].removed;
  }
  if (from.stopped_by != "end of package") into->stopped_by = from.stopped_by;
  if (from.package_start_ms >= 0 &&
      (into->package_start_ms < 0 || from.package_start_ms < into->package_start_ms))
    into->package_start_ms = from.package_start_ms;
  into->package_last_ms = std::max(into->package_last_ms, from.package_last_ms);
}

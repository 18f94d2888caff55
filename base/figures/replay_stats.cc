#include "base/figures/replay_stats.h"

#include <stdint.h>

#include <algorithm>

const char *const kReplayErrorNames[kErrorKinds] = {"connect", "tls",   "reset",
                                                    "timeout", "parse", "closed"};

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

namespace {

std::string count_text(uint64_t n) {
  return std::to_string(n);
}

// The counts of one part (`of`: "", "worker 3: ", "page 7: ") in order;
// pages have no planned count.
bool counts_hold(const ReplayCounts &c, const std::string &of, bool planned, std::string *why) {
  auto above = [&](const char *a, uint64_t x, const char *b, uint64_t y) {
    *why = of + a + " " + count_text(x) + " above " + b + " " + count_text(y);
    return false;
  };
  if (planned && c.sent > c.planned) return above("sent", c.sent, "planned", c.planned);
  if (c.completed > c.sent) return above("completed", c.completed, "sent", c.sent);
  if (planned && c.errors > c.planned - c.completed)
    return above("errors", c.errors, "planned less completed", c.planned - c.completed);
  if (c.bad_status > c.completed)
    return above("failed answers", c.bad_status, "completed", c.completed);
  return true;
}

// Adds the counts of parts; false when they pass 64 bits.
struct Sum {
  uint64_t planned = 0, sent = 0, completed = 0, errors = 0, bad_status = 0;
  bool wrapped = false;
  void add(const ReplayCounts &c) {
    for (auto [to, v] : {std::pair{&planned, c.planned},
                         {&sent, c.sent},
                         {&completed, c.completed},
                         {&errors, c.errors},
                         {&bad_status, c.bad_status}})
      wrapped = __builtin_add_overflow(*to, v, to) || wrapped;
  }
  bool equals(const ReplayCounts &c, bool with_planned) const {
    return !wrapped && (!with_planned || planned == c.planned) && sent == c.sent &&
           completed == c.completed && errors == c.errors && bad_status == c.bad_status;
  }
};

}  // namespace

bool check_replay_figures(const ReplayStats &s, std::string *why) {
  if (!counts_hold(s.counts, "", true, why)) return false;
  Sum workers, pages;
  for (const ReplayWorkerStats &w : s.workers) {
    if (!counts_hold(w.counts, "worker " + std::to_string(w.number) + ": ", true, why))
      return false;
    workers.add(w.counts);
  }
  for (const auto &[id, p] : s.pages) {
    if (!counts_hold(p.counts, "page " + std::to_string(id) + ": ", false, why)) return false;
    pages.add(p.counts);
  }
  if (!workers.equals(s.counts, true))
    return *why = "the workers' counts do not add up to the requests'", false;
  if (!pages.equals(s.counts, false))
    return *why = "the pages' counts do not add up to the requests'", false;
  Sum answers, errors, columns;
  for (const auto &[code, n] : s.status) answers.add({0, 0, n, 0, 0});
  for (int k = 0; k < kErrorKinds; k++) errors.add({0, 0, 0, s.errors[k], 0});
  if (!answers.equals({0, 0, s.counts.completed, 0, 0}, false))
    return *why = "the statuses do not add up to the completed requests", false;
  if (!errors.equals({0, 0, 0, s.counts.errors, 0}, false))
    return *why = "the error kinds do not add up to the errors", false;
  for (const ReplayColumn &c : s.timeline.columns)
    columns.add({c.planned, c.sent, c.completed, c.failed, 0});
  if (!columns.equals(
          {s.counts.planned, s.counts.sent, s.counts.completed, replay_failed(s.counts), 0}, true))
    return *why = "the timeline's columns do not add up to the requests", false;
  return true;
}

bool replay_stats_fit(const ReplayStats &into, const ReplayStats &from, std::string *what) {
  auto fits = [&](const char *name, uint64_t a, uint64_t b) {
    if (a <= UINT64_MAX - b) return true;
    *what = name;
    return false;
  };
  const ReplayCounts &a = into.counts, &b = from.counts;
  if (!fits("planned", a.planned, b.planned) || !fits("sent", a.sent, b.sent) ||
      !fits("completed", a.completed, b.completed) || !fits("errors", a.errors, b.errors) ||
      !fits("failed", replay_failed(a), replay_failed(b)) ||
      !fits("bytes sent", into.bytes_sent, from.bytes_sent) ||
      !fits("bytes received", into.bytes_received, from.bytes_received) ||
      !fits("latency", into.latency_ns.sum, from.latency_ns.sum) ||
      !fits("lag", into.lag_ns.sum, from.lag_ns.sum) ||
      !fits("handshake time", into.tls.handshake_ns.sum, from.tls.handshake_ns.sum) ||
      !fits("handshakes", into.tls.handshakes, from.tls.handshakes) ||
      !fits("max_in_flight", into.max_in_flight, from.max_in_flight) ||
      !fits("retries", into.retries, from.retries))
    return false;
  for (const auto &[id, p] : from.pages) {
    auto at = into.pages.find(id);
    if (at != into.pages.end() &&
        !fits("a page's latency", at->second.latency_ns.sum, p.latency_ns.sum))
      return false;
  }
  for (const ReplayWorkerStats &w : from.workers)
    for (const ReplayWorkerStats &v : into.workers)
      if (v.number == w.number && !fits("a worker's latency", v.latency_ns.sum, w.latency_ns.sum))
        return false;
  return true;
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
    auto at =
        std::lower_bound(into->workers.begin(), into->workers.end(), w.number,
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
  if (into->path_rewrites.size() < from.path_rewrites.size())
    into->path_rewrites.resize(from.path_rewrites.size());
  for (size_t r = 0; r < from.path_rewrites.size(); r++)
    into->path_rewrites[r] += from.path_rewrites[r];
  if (from.stopped_by != "end of package") into->stopped_by = from.stopped_by;
  if (from.package_start_ms >= 0 &&
      (into->package_start_ms < 0 || from.package_start_ms < into->package_start_ms))
    into->package_start_ms = from.package_start_ms;
  into->package_last_ms = std::max(into->package_last_ms, from.package_last_ms);
}

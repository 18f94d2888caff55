#include "tools/loggen/loggen_plan.h"

#include <algorithm>

namespace {

constexpr uint64_t kDayUs = 86400ULL * 1000000;
constexpr uint64_t kUsualVisit = 20;  // longest mean visit of a usual customer

uint64_t gcd(uint64_t a, uint64_t b) {
  while (b) {
    uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Whether a customer is one of the long_share whose visits outlast a session:
// a fixed property of the customer, not of the visit.
bool is_long_visitor(const LoggenOptions &o, uint32_t customer) {
  LoggenRng r = {o.seed ^ (0x5bd1e995ULL * (customer + 1))};
  return rng_chance(&r, o.long_share);
}

// Body sizes lean towards the small end: min + (max-min) * u^3.
uint64_t body_size(const LoggenOptions &o, LoggenRng *rng) {
  if (rng_chance(rng, o.large_share))
    return rng_between(rng, 2 * static_cast<uint64_t>(o.max_body),
                       25 * static_cast<uint64_t>(o.max_body));
  uint64_t u = rng_below(rng, 1ULL << 21);
  uint64_t span = static_cast<uint64_t>(o.max_body - o.min_body);
  return o.min_body +
         static_cast<uint64_t>((static_cast<unsigned __int128>(span) * (u * u * u)) >> 63);
}

// Picks whether the next request is bad, and its kind, so that the counts
// come out exactly as asked over the whole run.
uint8_t pick_bad(LoggenPlanState *st) {
  bool bad = rng_below(&st->rng, st->requests_left) < st->bad_left;
  st->requests_left--;
  if (!bad) return 0;
  uint64_t r = rng_below(&st->rng, st->bad_left--);
  // The kinds add up to bad_left: what the others leave is the last one's.
  int k = 0;
  while (k < kBadKinds - 1 && r >= st->bad_kind_left[k]) r -= st->bad_kind_left[k++];
  st->bad_kind_left[k]--;
  return static_cast<uint8_t>(k + 1);
}

uint64_t day_budget(const LoggenOptions &o, int64_t day) {
  uint64_t base = o.requests / o.days;
  return base + (day < o.requests % o.days ? 1 : 0);
}

// One visit of one customer: a run of requests with think times between them.
void plan_visit(const LoggenOptions &o, int64_t day, uint64_t budget, LoggenPlanState *st,
                std::vector<LoggenEvent> *events) {
  LoggenRng *rng = &st->rng;
  uint32_t customer = static_cast<uint32_t>(st->next_visit++ * st->customer_stride % o.customers);
  bool long_visit = is_long_visitor(o, customer);
  uint64_t mean = std::clamp<uint64_t>(o.requests / o.customers, 1, kUsualVisit);
  uint64_t count = long_visit ? rng_between(rng, 12, 40) : rng_between(rng, 1, 2 * mean - 1);
  count = std::min(count, budget - events->size());
  uint64_t think_lo = long_visit ? 120 : 1, think_hi = long_visit ? 300 : 60;  // seconds
  uint64_t t = utc_midnight(o.start_date) * 1000000ULL + day * kDayUs +
               rng_below(rng, static_cast<uint64_t>(o.day_span) * 1000000);
  uint64_t first = t;
  uint16_t file = static_cast<uint16_t>(rng_below(rng, o.files_per_day));
  for (uint64_t i = 0; i < count; i++) {
    if (i) t += rng_between(rng, think_lo * 1000000, think_hi * 1000000);
    LoggenEvent e = {};
    e.time_us = t;
    e.customer = customer;
    e.order = static_cast<uint32_t>(events->size());
    uint64_t service = o.services_in_turn
                           ? st->next_request % o.services
                           : std::min(rng_below(rng, o.services), rng_below(rng, o.services));
    st->next_request++;
    e.service = static_cast<uint16_t>(service);
    e.file = file;
    e.body_size = body_size(o, rng);
    e.flags = (rng_chance(rng, o.creation_ts_share) ? kCreationTs : 0) |
              (rng_chance(rng, o.ns_share) ? kNsPrefix : 0);
    e.bad = pick_bad(st);
    events->push_back(e);
  }
  if (t - first >= kSessionMs * 1000) st->long_visits++;
}

}  // namespace

int64_t utc_midnight(int64_t ymd) {
  // Days from 1970-01-01 of a proleptic Gregorian date.
  int64_t y = ymd / 10000, m = ymd / 100 % 100, d = ymd % 100;
  y -= m <= 2;
  int64_t era = y / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return (era * 146097 + doe - 719468) * 86400;
}

void init_plan_state(const LoggenOptions &o, LoggenPlanState *st) {
  *st = {};
  st->rng.state = o.seed;
  st->customer_stride = 1 + rng_below(&st->rng, o.customers);
  while (gcd(st->customer_stride, o.customers) != 1) st->customer_stride++;
  st->requests_left = o.requests;
  st->bad_left = static_cast<uint64_t>(o.requests * o.bad_share + 0.5);
  for (int k = 0; k < kBadKinds; k++)
    st->bad_kind_left[k] =
        st->bad_left / kBadKinds + (k < static_cast<int>(st->bad_left % kBadKinds));
}

void plan_day(const LoggenOptions &o, int64_t day, LoggenPlanState *st,
              std::vector<LoggenEvent> *events) {
  events->clear();
  uint64_t budget = day_budget(o, day);
  while (events->size() < budget) plan_visit(o, day, budget, st, events);
  std::sort(events->begin(), events->end(), [](const LoggenEvent &a, const LoggenEvent &b) {
    if (a.file != b.file) return a.file < b.file;
    if (a.time_us != b.time_us) return a.time_us < b.time_us;
    return a.order < b.order;
  });
}

uint64_t count_sessions(std::vector<std::pair<uint32_t, uint64_t>> *requests) {
  std::sort(requests->begin(), requests->end());
  uint64_t sessions = 0;
  uint32_t customer = 0;
  uint64_t start = 0;
  for (size_t i = 0; i < requests->size(); i++) {
    const auto &[c, ms] = (*requests)[i];
    if (i == 0 || c != customer || ms >= start + kSessionMs) {
      sessions++;
      customer = c;
      start = ms;
    }
  }
  return sessions;
}

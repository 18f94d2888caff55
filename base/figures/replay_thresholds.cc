#include "base/figures/replay_thresholds.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "base/figures/replay_stats.h"

namespace {

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

bool read_number(const std::string &text, double *value) {
  if (text.empty() || text[0] == ' ' || text[0] == '+' || text[0] == '-') return false;
  char *end;
  errno = 0;
  double v = strtod(text.c_str(), &end);
  if (*end || errno || !isfinite(v)) return false;
  *value = v;
  return true;
}

}  // namespace

bool parse_status_set(const std::string &text, ReplayStatusSet *set, std::string *error) {
  *set = ReplayStatusSet{};
  set->text = text;
  size_t at = 0;
  while (true) {
    size_t comma = text.find(',', at);
    std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    bool is_class = item.size() == 3 && item[0] >= '1' && item[0] <= '5' &&
                    (item[1] == 'x' || item[1] == 'X') && (item[2] == 'x' || item[2] == 'X');
    bool is_code = item.size() == 3 && item.find_first_not_of("0123456789") == std::string::npos &&
                   item[0] >= '1' && item[0] <= '5';
    if (is_class) {
      int base = (item[0] - '0') * 100;
      for (int code = base; code < base + 100; code++) set->ok[static_cast<size_t>(code)] = true;
    } else if (is_code) {
      set->ok[static_cast<size_t>(atoi(item.c_str()))] = true;
    } else {
      return fail(
          error,
          "'" + item +
              "': expected status codes (100 to 599) and classes (1xx to 5xx) such as 2xx,3xx,404");
    }
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return true;
}

ReplayStatusSet default_ok_status() {
  ReplayStatusSet set;
  std::string ignored;
  parse_status_set("2xx,3xx", &set, &ignored);
  return set;
}

bool parse_failed_threshold(const std::string &text, ReplayThreshold *t, std::string *error) {
  double v;
  bool percent = !text.empty() && text.back() == '%';
  if (!read_number(percent ? text.substr(0, text.size() - 1) : text, &v) || v > (percent ? 100 : 1))
    return fail(error, "expected a ratio from 0 to 1 (0.01) or a percentage (1%)");
  *t = ReplayThreshold{};
  t->kind = ThresholdKind::kFailed;
  t->limit = percent ? v / 100 : v;
  t->text = "max-failed " + text;
  return true;
}

// A time limit in milliseconds: bare, or with its unit ms, s or us.
bool read_time_limit(std::string text, double *ms) {
  double scale = 1;
  for (auto [unit, factor] : {std::pair{"ms", 1.0}, {"us", 1e-3}, {"s", 1e3}}) {
    size_t n = strlen(unit);
    if (text.size() > n && text.compare(text.size() - n, n, unit) == 0) {
      text.resize(text.size() - n);
      scale = factor;
      break;
    }
  }
  if (!read_number(text, ms)) return false;
  *ms *= scale;
  return true;
}

bool parse_percentile_threshold(const std::string &text, ThresholdKind kind, ReplayThreshold *t,
                                std::string *error) {
  size_t eq = text.find('=');
  double p, ms;
  std::string which = text.substr(0, eq);
  bool p_ok = which == "max" ? (p = 100, true)
                             : which.size() > 1 && which[0] == 'p' &&
                                   read_number(which.substr(1), &p) && p > 0 && p <= 100;
  if (eq == std::string::npos || !p_ok || !read_time_limit(text.substr(eq + 1), &ms))
    return fail(error,
                "expected pNN=TIME: a percentile above 0 and at most 100 (p50, p99.9, max) "
                "and a time in ms (bare, or with ms, s or us), such as p99=200 or "
                "p99=0.2s");
  *t = ReplayThreshold{};
  t->kind = kind;
  t->percentile = p;
  t->limit = ms;
  t->text = std::string(kind == ThresholdKind::kLatency ? "max-latency " : "max-lag ") + text;
  return true;
}

std::vector<ReplayThreshold> replay_thresholds_with_default(std::vector<ReplayThreshold> given) {
  for (const ReplayThreshold &t : given)
    if (t.kind == ThresholdKind::kFailed) return given;
  ReplayThreshold strict;
  strict.text = "max-failed 0";
  strict.by_default = true;
  given.push_back(strict);
  return given;
}

const char *replay_threshold_unmeasured(ThresholdKind kind) {
  return kind == ThresholdKind::kFailed    ? "no request ended"
         : kind == ThresholdKind::kLatency ? "no answer to measure"
                                           : "nothing sent to measure";
}

double replay_failed_ratio(const ReplayStats &s) {
  uint64_t ended = s.counts.completed + s.counts.errors;
  return ended == 0 ? 0 : static_cast<double>(replay_failed(s.counts)) / static_cast<double>(ended);
}

std::vector<ReplayThresholdResult> check_replay_thresholds(
    const std::vector<ReplayThreshold> &thresholds, const ReplayStats &s) {
  std::vector<ReplayThresholdResult> results;
  for (const ReplayThreshold &t : thresholds) {
    ReplayThresholdResult r;
    r.threshold = t;
    if (t.kind == ThresholdKind::kFailed) {
      r.sampled = s.counts.completed + s.counts.errors > 0;
      r.measured = replay_failed_ratio(s);
    } else {
      const LogHistogram &h = t.kind == ThresholdKind::kLatency ? s.latency_ns : s.lag_ns;
      r.sampled = h.total > 0;
      r.measured = static_cast<double>(histogram_percentile(h, t.percentile)) / 1e6;
    }
    r.crossed = !r.sampled || r.measured > t.limit;
    results.push_back(r);
  }
  return results;
}

// What makes a replay fail: answers whose status is outside --ok-status
// count as failed, and thresholds (--max-failed, --max-latency, --max-lag)
// turn into exit status 3 when crossed.
#ifndef VT_BASE_FIGURES_REPLAY_THRESHOLDS_H_
#define VT_BASE_FIGURES_REPLAY_THRESHOLDS_H_

#include <bitset>
#include <string>
#include <vector>

struct ReplayStats;

// The status codes that count as success.
struct ReplayStatusSet {
  std::bitset<1000> ok;
  std::string text;  // as given, e.g. "2xx,3xx"
};

// Reads a list of codes (100 to 599) and classes (1xx to 5xx): "2xx,3xx",
// "200,204,3xx".
bool parse_status_set(const std::string &text, ReplayStatusSet *set, std::string *error);

// 2xx and 3xx: the default of --ok-status.
ReplayStatusSet default_ok_status();

inline bool status_is_ok(const ReplayStatusSet &set, int code) {
  return code >= 0 && code < 1000 && set.ok[static_cast<size_t>(code)];
}

enum class ThresholdKind { kFailed, kLatency, kLag };

struct ReplayThreshold {
  ThresholdKind kind = ThresholdKind::kFailed;
  double percentile = 0;    // latency and lag: 0 < p <= 100
  double limit = 0;         // failed: a ratio from 0 to 1; latency and lag: milliseconds
  std::string text;         // "max-failed 0.01", "max-latency p99=200"
  bool by_default = false;  // the max-failed 0 of a run given no --max-failed
};

// --max-failed RATIO: 0 to 1, or a percentage ("2.5%").
bool parse_failed_threshold(const std::string &text, ReplayThreshold *t, std::string *error);

// --max-latency and --max-lag pNN=LIMIT: p50, p99.9, p100 (or max) and a
// time from 0 in milliseconds, bare or with its unit ("200", "200ms",
// "0.2s", "150us").
bool parse_percentile_threshold(const std::string &text, ThresholdKind kind, ReplayThreshold *t,
                                std::string *error);

// The thresholds a run checks: those given, and max-failed 0 (by_default)
// when none of them is a --max-failed: without it a failed request fails
// the run.
std::vector<ReplayThreshold> replay_thresholds_with_default(std::vector<ReplayThreshold> given);

struct ReplayThresholdResult {
  ReplayThreshold threshold;
  double measured = 0;  // the ratio, or milliseconds
  bool sampled = true;  // false: nothing to measure (no request ended, no answer, nothing sent)
  bool crossed = false;
};

// Every threshold against the figures of the replay: crossed when the
// measured value is above the limit, and when there is nothing to measure:
// no verdict without evidence.
std::vector<ReplayThresholdResult> check_replay_thresholds(
    const std::vector<ReplayThreshold> &thresholds, const ReplayStats &s);

// What a threshold without a sample lacked: "no request ended", "no answer
// to measure", "nothing sent to measure".
const char *replay_threshold_unmeasured(ThresholdKind kind);

// failed / (completed + errors); 0 when no request ended.
double replay_failed_ratio(const ReplayStats &s);

#endif  // VT_BASE_FIGURES_REPLAY_THRESHOLDS_H_

#include "tools/replay/replay_modes.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>

#include "base/html/chart.h"
#include "tools/replay/replay_package.h"

namespace {

// 2^62 ns, some 146 years, leaves room for the start on the monotonic clock.
constexpr double kLongestNs = 4611686018427387904.0;

bool refuse(std::string *why, const std::string &text) {
  *why = text;
  return false;
}

// A finite number followed by `rest`.
bool read_number(const std::string &text, double *value, std::string *rest) {
  if (text.empty()) return false;
  char *end;
  errno = 0;
  double v = strtod(text.c_str(), &end);
  if (end == text.c_str() || errno || !isfinite(v)) return false;
  *value = v;
  *rest = end;
  return true;
}

bool read_factor(const std::string &text, double *factor) {
  std::string rest;
  return read_number(text, factor, &rest) && rest.empty() && *factor > 0 && *factor <= 1e9;
}

// The ramp's schedule position (s at speed 1) at its end.
double ramp_end_schedule_s(const ReplayMode &m) {
  return (m.speed_from + m.speed_to) * m.ramp_s / 2;
}

// The send time (s after the start) of a schedule position of x s.
double send_s(const ReplayPlan &plan, double x) {
  const ReplayMode &m = plan.mode;
  if (!m.ramp) return x / plan.speed;
  double a = m.speed_from, b = m.speed_to, t = m.ramp_s, x_end = ramp_end_schedule_s(m);
  if (x > x_end) return t + (x - x_end) / b;
  // x = a s + (b - a) s^2 / 2t, solved for s without the cancellation of
  // the textbook form; the root is real on the ramp, as x <= x_end.
  return 2 * x / (a + sqrt(std::max(0.0, a * a + 2 * (b - a) * x / t)));
}

}  // namespace

bool parse_loop_count(const std::string &text, uint64_t *loops, std::string *why) {
  if (text == "inf") return *loops = 0, true;
  char *end;
  errno = 0;
  unsigned long long n = text.empty() || text[0] == '-' ? 0 : strtoull(text.c_str(), &end, 10);
  if (n < 1 || n > kMaxLoops || *end || errno)
    return refuse(why, chart_fmt("expected passes from 1 to %lu, or inf (until --duration)",
                                 static_cast<unsigned long>(kMaxLoops)));
  *loops = n;
  return true;
}

bool parse_user_copies(const std::string &text, uint32_t *copies, std::string *why) {
  char *end = nullptr;
  errno = 0;
  unsigned long k =
      text.size() > 1 && text[0] == 'x' && text[1] != '-' ? strtoul(text.c_str() + 1, &end, 10) : 0;
  if (k < 1 || *end || errno)
    return refuse(
        why, chart_fmt("expected xK, K users played for each user, from x1 to x%u", kMaxCopies));
  if (k > kMaxCopies)
    return refuse(why, chart_fmt("%lu copies of each user are more than the %u one run plays", k,
                                 kMaxCopies));
  *copies = static_cast<uint32_t>(k);
  return true;
}

bool parse_rate(const std::string &text, double *rate, std::string *why) {
  std::string rest;
  double r;
  if (!read_number(text, &r, &rest) || (!rest.empty() && rest != "/s") || r <= 0 || r > kMaxRate)
    return refuse(why, chart_fmt("expected requests per second above 0 and at most %.0f, such "
                                 "as 500/s",
                                 kMaxRate));
  *rate = r;
  return true;
}

bool parse_seconds(const std::string &text, bool zero_ok, double *seconds, std::string *why) {
  std::string rest;
  double v = 0, unit = 0;
  if (read_number(text, &v, &rest))
    unit = rest.empty() || rest == "s" ? 1 : rest == "m" ? 60 : rest == "h" ? 3600 : 0;
  if (unit == 0 || v < 0 || (v == 0 && !zero_ok) || v * unit > 1e7)
    return refuse(why, std::string("expected seconds ") + (zero_ok ? "from 0" : "above 0") +
                           " to 1e7, with s, m or h for a unit (90, 90s, 1.5m, 2h)");
  *seconds = v * unit;
  return true;
}

bool parse_speed(const std::string &text, double *speed, ReplayMode *mode, std::string *why) {
  mode->speed_given = true;
  size_t colon = text.find(':'), at = text.find('@');
  if (colon == std::string::npos) {
    if (!read_factor(text, speed))
      return refuse(why,
                    "expected a factor above 0 and at most 1e9, or a ramp A:B@T such as 1:10@10m");
    mode->ramp = false;
    return true;
  }
  double from, to, over;
  if (at == std::string::npos || at < colon || !read_factor(text.substr(0, colon), &from) ||
      !read_factor(text.substr(colon + 1, at - colon - 1), &to))
    return refuse(why, "a ramp is A:B@T, from speed A to B (each above 0, at most 1e9) over T");
  if (!parse_seconds(text.substr(at + 1), false, &over, why)) return refuse(why, "T: " + *why);
  mode->ramp = true;
  mode->speed_from = *speed = from;
  mode->speed_to = to;
  mode->ramp_s = over;
  return true;
}

std::string replay_mode_conflict(const ReplayMode &m, double duration_s, int shard_count) {
  if (m.rate > 0 && m.speed_given)
    return "--rate and --speed: under --rate the recorded pace is not followed, at any speed";
  if (m.loops == 0 && duration_s <= 0) return "--loop inf needs --duration: the run would not end";
  if (m.loop_gap_s > 0 && m.loops == 1) return "--loop-gap without --loop: one pass has no gap";
  if (m.loops != 1 && shard_count > 1)
    return "--loop and --shard: a pass ends with the package's last request, which a shard "
           "does not see; loop without --shard";
  return "";
}

bool replay_mode_given(const ReplayMode &m) {
  return m.loops != 1 || m.copies != 1 || m.ramp || m.rate > 0;
}

std::string replay_mode_text(const ReplayMode &m, double speed) {
  if (!replay_mode_given(m)) return "";
  std::string out;
  auto add = [&out](const std::string &part) { out += (out.empty() ? "" : ", ") + part; };
  if (m.loops == 0) add("loop until --duration");
  if (m.loops > 1) add(chart_fmt("loop x%lu", static_cast<unsigned long>(m.loops)));
  if (m.loop_gap_s > 0) add(chart_fmt("gap %g s", m.loop_gap_s));
  if (m.copies > 1) add(chart_fmt("users x%u", m.copies));
  if (m.ramp)
    add(chart_fmt("speed %gx to %gx over %g s", m.speed_from, m.speed_to, m.ramp_s));
  else if (m.rate > 0)
    add(chart_fmt("rate %g/s", m.rate));
  else if (speed != 1)
    add(chart_fmt("speed %gx", speed));
  return out;
}

bool make_replay_plan(const ReplayMode &m, double speed, double duration_s, const ReplayPackage &p,
                      ReplayPlan *plan, std::string *error) {
  *plan = ReplayPlan{};
  plan->mode = m;
  plan->speed = speed;
  plan->duration_s = duration_s;
  uint64_t users = p.users.size(), session_ms = 0, top_id = 0;
  for (const ReplayUser &u : p.users) {
    session_ms = std::max(session_ms, u.last_ms - u.first_ms);
    top_id = std::max(top_id, u.user_id);
  }
  if (m.copies > 1 && users > kMaxUserCopies / m.copies)
    return *error = chart_fmt(
               "--users x%u: %lu users of the selected workers times %u are more "
               "than the %lu users one run keeps",
               m.copies, static_cast<unsigned long>(users), m.copies,
               static_cast<unsigned long>(kMaxUserCopies)),
           false;
  double pass_ms = static_cast<double>(p.last_time_ms - p.base_ms);
  double pass_ns = pass_ms * 1e6 + m.loop_gap_s * 1e9;
  double shift_ns = static_cast<double>(session_ms) * 1e6 * (m.copies - 1) / m.copies;
  plan->requests = p.requests * m.copies;
  if (m.loops == 0 && m.rate <= 0 && pass_ns <= 0)
    return *error = "--loop inf: every request of " + p.dir +
                    " falls at one time, so passes would take no time; give --loop-gap",
           false;
  // The passes there may be: as asked, or those begun before --duration ends.
  double passes = static_cast<double>(m.loops);
  if (m.loops == 0)
    passes = m.rate > 0 ? floor(duration_s * m.rate / static_cast<double>(plan->requests)) + 1
                        : floor(replay_schedule_at(*plan, duration_s) * 1e9 / pass_ns) + 1;
  double last_ns =
      m.rate > 0 ? ((passes * static_cast<double>(plan->requests) - 1) / m.rate) * 1e9 +
                       (passes - 1) * m.loop_gap_s * 1e9
                 : send_s(*plan, ((passes - 1) * pass_ns + pass_ms * 1e6 + shift_ns) / 1e9) * 1e9;
  if (!(pass_ns * passes + shift_ns < kLongestNs) || !(last_ns < kLongestNs))
    return *error = chart_fmt("the send times of %s under %s would outlast 146 years",
                              p.dir.c_str(), replay_mode_text(m, speed).c_str()),
           false;
  plan->passes = static_cast<uint64_t>(passes);
  plan->pass_ns = static_cast<int64_t>(pass_ns);
  plan->span_s = last_ns / 1e9;
  if (duration_s > 0) plan->span_s = std::min(plan->span_s, duration_s);
  uint64_t runs = plan->passes * m.copies;  // the times each package user is played
  while (runs > 1 && plan->id_stride <= top_id && plan->id_stride <= UINT64_MAX / 10)
    plan->id_stride *= 10;
  if (runs > 1 && (plan->id_stride <= top_id || runs > (UINT64_MAX - top_id) / plan->id_stride))
    return *error = chart_fmt("user %lu played %lu times: the run's user ids would pass 2^64",
                              static_cast<unsigned long>(top_id), static_cast<unsigned long>(runs)),
           false;
  return true;
}

int64_t replay_schedule_ns(const ReplayPlan &plan, uint64_t pass, uint32_t copy,
                           uint64_t from_zero_ms, uint64_t session_ms) {
  int64_t shift = static_cast<int64_t>(session_ms * 1000000 / plan.mode.copies) * copy;
  return static_cast<int64_t>(pass) * plan.pass_ns + static_cast<int64_t>(from_zero_ms) * 1000000 +
         shift;
}

int64_t replay_send_ns(const ReplayPlan &plan, int64_t schedule_ns) {
  if (!plan.mode.ramp) return static_cast<int64_t>(static_cast<double>(schedule_ns) / plan.speed);
  return static_cast<int64_t>(send_s(plan, static_cast<double>(schedule_ns) / 1e9) * 1e9);
}

int64_t replay_slot_ns(const ReplayPlan &plan, uint64_t slot, uint64_t pass) {
  return static_cast<int64_t>(static_cast<double>(slot) * 1e9 / plan.mode.rate +
                              static_cast<double>(pass) * plan.mode.loop_gap_s * 1e9);
}

double replay_speed_at(const ReplayPlan &plan, double elapsed_s) {
  const ReplayMode &m = plan.mode;
  if (!m.ramp) return plan.speed;
  if (elapsed_s >= m.ramp_s) return m.speed_to;
  return m.speed_from + (m.speed_to - m.speed_from) * std::max(0.0, elapsed_s) / m.ramp_s;
}

double replay_schedule_at(const ReplayPlan &plan, double elapsed_s) {
  const ReplayMode &m = plan.mode;
  if (!m.ramp) return elapsed_s * plan.speed;
  if (elapsed_s >= m.ramp_s) return ramp_end_schedule_s(m) + m.speed_to * (elapsed_s - m.ramp_s);
  return (m.speed_from + replay_speed_at(plan, elapsed_s)) / 2 * elapsed_s;
}

uint64_t replay_run_user_id(const ReplayPlan &plan, uint64_t user_id, uint64_t pass,
                            uint32_t copy) {
  return user_id + (pass * plan.mode.copies + copy) * plan.id_stride;
}

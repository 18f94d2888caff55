// The load modes of vt_replay: the package played again (--loop), each user
// played as several users (--users xK), a speed that changes over the run
// (--speed A:B@T) and a fixed arrival rate (--rate R/s). One plan maps a
// request, given its pass, its copy and its package time, to its planned
// send time and its user to a user id of the run's own; the engine asks it
// and nothing else.
//
// The schedule of a run, in ns of package time at speed 1 from time 0:
//   pass p, copy j of a user whose requests span L ms, a request at package
//   time t:  p * (P + gap) + (t - time 0) + j * L / K
// where P is the package's last request from time 0 (a pass begins where the
// last one's schedule ended, plus --loop-gap) and the copies are shifted
// inside the user's own session, each a K-th of it later than the one before
// (they may run on into the next pass). A send time is that schedule divided
// by the speed; a ramp's speed grows (or falls) linearly over T seconds of
// the run and then holds. Under --rate the schedule gives only the order:
// the k-th request in it goes out k / R seconds after the start (plus the
// gaps of the passes before it).
#ifndef VT_TOOLS_REPLAY_REPLAY_MODES_H_
#define VT_TOOLS_REPLAY_REPLAY_MODES_H_

#include <stdint.h>

#include <string>

struct ReplayPackage;

constexpr uint64_t kMaxLoops = 1000000;
constexpr uint32_t kMaxCopies = 1000;
constexpr double kMaxRate = 1e6;
// Users times copies that one run keeps (with K above 1).
constexpr uint64_t kMaxUserCopies = uint64_t{1} << 24;

struct ReplayMode {
  uint64_t loops = 1;        // --loop N; 0: until --duration ends (--loop inf)
  double loop_gap_s = 0;     // --loop-gap
  uint32_t copies = 1;       // --users xK
  bool ramp = false;         // --speed A:B@T
  double speed_from = 1;     // the ramp's A
  double speed_to = 1;       // B
  double ramp_s = 0;         // T
  double rate = 0;           // --rate R/s; 0: the recorded pace
  bool speed_given = false;  // --speed, plain or a ramp
};

// "N" (1 to kMaxLoops) or "inf" (0: until --duration).
bool parse_loop_count(const std::string &text, uint64_t *loops, std::string *why);
// "xK", K from 1 to kMaxCopies.
bool parse_user_copies(const std::string &text, uint32_t *copies, std::string *why);
// "R/s" or "R", R above 0 and at most kMaxRate.
bool parse_rate(const std::string &text, double *rate, std::string *why);
// Seconds with an optional unit: "90", "90s", "1.5m", "2h"; above 0 (or 0
// when zero_ok) and at most 1e7 s.
bool parse_seconds(const std::string &text, bool zero_ok, double *seconds, std::string *why);
// A factor ("2.5") into *speed, or a ramp "A:B@T" into *mode.
bool parse_speed(const std::string &text, double *speed, ReplayMode *mode, std::string *why);

// The options that do not go together; "" when they do.
std::string replay_mode_conflict(const ReplayMode &m, double duration_s, int shard_count);

// True when a mode other than the recorded pace at one speed is asked for.
bool replay_mode_given(const ReplayMode &m);
// The mode as the report names it: "loop x3, users x4, speed 1x to 10x over
// 600 s", "rate 500/s"; "" for the recorded pace at one speed.
std::string replay_mode_text(const ReplayMode &m, double speed);

struct ReplayPlan {
  ReplayMode mode;
  double speed = 1;                 // the constant speed (no ramp)
  int64_t pass_ns = 0;              // P + gap
  double duration_s = 0;            // --duration, 0: none
  uint64_t passes = 1;              // the passes there may be (for --loop inf, by --duration)
  uint64_t id_stride = 1000000000;  // a power of ten above every user id
  uint64_t requests = 0;            // of one pass, copies included
  double span_s = 0;                // from the start to the last request planned (or --duration)
};

// The plan of the package under the mode. False with *error when the
// schedule, the users or their ids would not fit.
bool make_replay_plan(const ReplayMode &m, double speed, double duration_s, const ReplayPackage &p,
                      ReplayPlan *plan, std::string *error);

// The schedule time (ns at speed 1 from time 0) of a request at package time
// `from_zero_ms` after time 0, of a user whose requests span session_ms.
int64_t replay_schedule_ns(const ReplayPlan &plan, uint64_t pass, uint32_t copy,
                           uint64_t from_zero_ms, uint64_t session_ms);
// Its send time, ns after the start (not under --rate).
int64_t replay_send_ns(const ReplayPlan &plan, int64_t schedule_ns);
// Under --rate: the send time of the slot-th request of the run (from 0),
// of pass `pass`, ns after the start.
int64_t replay_slot_ns(const ReplayPlan &plan, uint64_t slot, uint64_t pass);
// The speed at `elapsed_s` after the start.
double replay_speed_at(const ReplayPlan &plan, double elapsed_s);
// The schedule (s at speed 1) reached `elapsed_s` after the start.
double replay_schedule_at(const ReplayPlan &plan, double elapsed_s);
// The run's own id of a package user in a pass and copy.
uint64_t replay_run_user_id(const ReplayPlan &plan, uint64_t user_id, uint64_t pass, uint32_t copy);

#endif  // VT_TOOLS_REPLAY_REPLAY_MODES_H_

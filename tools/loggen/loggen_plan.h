// What vt_loggen writes, decided before any byte is formatted: per capture
// day, the requests with their time, customer, service, file, body size and,
// for bad records, the rejection they are built to provoke.
#ifndef VT_LOGGEN_LOGGEN_PLAN_H_
#define VT_LOGGEN_LOGGEN_PLAN_H_

#include <stdint.h>

#include <vector>

#include "tools/loggen/loggen_options.h"
#include "tools/loggen/loggen_rng.h"

constexpr int kBadKinds = 7;  // rejection codes 101..107
constexpr int kFirstBadCode = 101;
constexpr uint64_t kSessionMs = 1800000;  // the replay generator's default session length

enum LoggenFlags : uint8_t {
  kCreationTs = 1,  // body holds a creationTimestamp element
  kNsPrefix = 2,    // customer id element carries a namespace prefix
};

struct LoggenEvent {
  uint64_t time_us;    // request time, microseconds since the epoch
  uint64_t body_size;  // bytes of the body as the replay generator measures it
  uint32_t customer;   // customer index, 0 .. customers-1
  uint32_t order;      // position in the day's plan: the last sort key
  uint16_t service;
  uint16_t file;  // 0 .. files_per_day-1
  uint8_t bad;    // 0, or 1..7 for codes 101..107
  uint8_t flags;  // LoggenFlags
};

// Planning state carried from day to day.
struct LoggenPlanState {
  LoggenRng rng;
  uint64_t next_visit;       // visits planned so far: picks the next customer
  uint64_t next_request;     // requests planned so far: the next service in turn
  uint64_t customer_stride;  // visits walk the customers in this stride
  uint64_t requests_left;
  uint64_t bad_left;
  uint64_t bad_kind_left[kBadKinds];
  uint64_t long_visits;  // visits that outlast the session length
};

void init_plan_state(const LoggenOptions &o, LoggenPlanState *st);

// Requests of capture day `day` (0-based), sorted by file, then time.
void plan_day(const LoggenOptions &o, int64_t day, LoggenPlanState *st,
              std::vector<LoggenEvent> *events);

// Seconds since the epoch of 00:00 UTC on YYYYMMDD.
int64_t utc_midnight(int64_t ymd);

// The customer id written for a customer index.
inline uint64_t customer_id(uint32_t customer) {
  return 1000001ULL + customer;
}

// Users the replay generator makes of the accepted requests, given as
// (customer, time in ms) pairs: one per run of a customer's requests that
// starts a new session every kSessionMs.
uint64_t count_sessions(std::vector<std::pair<uint32_t, uint64_t>> *requests);

#endif  // VT_LOGGEN_LOGGEN_PLAN_H_

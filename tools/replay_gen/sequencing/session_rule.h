// The session rule: records taken in (uid, time) order are cut into sessions
// that share one non-zero uid and start less than new_user_time after the
// session's first record. The key of a session is the seq of its first
// record.
#ifndef VT_REPLAY_GEN_SEQUENCING_SESSION_RULE_H_
#define VT_REPLAY_GEN_SEQUENCING_SESSION_RULE_H_

#include <stdint.h>

struct OpenSession {
  uint64_t key;
  int64_t uid;
  uint64_t start;
};

// True when a record of uid at time_stamp joins session s (window: the
// session length, new_user_time).
inline bool session_joins(const OpenSession &s, int64_t uid, uint64_t time_stamp, uint64_t window) {
  return uid == s.uid && time_stamp < s.start + window && uid != 0;
}

#endif  // VT_REPLAY_GEN_SEQUENCING_SESSION_RULE_H_

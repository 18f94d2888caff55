// The sessions that may still get requests while Step 4 of a run that
// spills walks the requests in time order. A session's requests all fall
// less than NEW_USER_TIME after its first one, so a session is kept from its
// first request until the walk is that far past it; customers without an id
// (uid 0) are sessions of one request and are never kept. The table is keyed
// by session key (parent_seq); sessions leave it in the order they came.
#ifndef VT_REPLAY_GEN_OUTPUT_ACTIVE_SESSIONS_H_
#define VT_REPLAY_GEN_OUTPUT_ACTIVE_SESSIONS_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct ActiveSession {
  uint64_t key;  // kNoSession in a free slot
  uint64_t start;
  uint64_t user_no;
  uint32_t num_req;
  uint8_t vvm_id;
};

constexpr uint64_t kNoSession = UINT64_MAX;

struct ActiveSessions {
  std::vector<ActiveSession> slots;  // open addressing, a power of two long
  size_t count = 0;
  std::vector<uint64_t> order;  // keys in the order they came, from `first` on
  size_t first = 0;
};

// Adds a session; its key must not be there.
void add_session(ActiveSessions *t, const ActiveSession &s);

// The session of key, or null.
ActiveSession *find_session(ActiveSessions *t, uint64_t key);

// Drops the sessions that began window or more before now.
void drop_sessions_before(ActiveSessions *t, uint64_t now, uint64_t window);

// Bytes the table takes.
uint64_t active_sessions_bytes(const ActiveSessions &t);

#endif  // VT_REPLAY_GEN_OUTPUT_ACTIVE_SESSIONS_H_

// The records of a run that spills, one type per order it is sorted in.
// Each order is total: ties of the visible keys are broken by the request's
// place in the logs (input file, then line) or in the time order, which
// every record carries, so that any runs merge into one order.
#ifndef VT_REPLAY_GEN_SPILL_SPILL_RECORDS_H_
#define VT_REPLAY_GEN_SPILL_SPILL_RECORDS_H_

#include <stdint.h>

// A request as the loader spills it, in uid/time order (56 bytes). Its seq
// is not known yet: the files read before its own may still be loading.
struct LoadedRecord {
  uint64_t time_stamp;
  int64_t uid;
  uint64_t place;  // among the accepted requests of its input file
  int64_t req_offset;
  uint64_t req_size;
  uint32_t seq_index;  // the input file
  uint32_t creation_ts_offset;
  int16_t service_id;  // as its loader thread numbered it
  int16_t creation_ts_size;
  int16_t thread_id;
  char type;
  char runtime_service;
};

// uid, time, then log order.
struct UidTimeLess {
  bool operator()(const LoadedRecord &a, const LoadedRecord &b) const {
    if (a.uid != b.uid) return a.uid < b.uid;
    if (a.time_stamp != b.time_stamp) return a.time_stamp < b.time_stamp;
    if (a.seq_index != b.seq_index) return a.seq_index < b.seq_index;
    return a.place < b.place;
  }
};

// A request with its session, in time order (64 bytes).
struct SessionRecord {
  uint64_t time_stamp;
  uint64_t seq;
  uint64_t parent_seq;
  int64_t uid;
  int64_t req_offset;
  uint64_t req_size;
  uint32_t seq_index;
  uint32_t creation_ts_offset;
  int16_t service_id;
  int16_t creation_ts_size;
  char type;
};

// Time, then log order.
struct TimeSeqLess {
  bool operator()(const SessionRecord &a, const SessionRecord &b) const {
    if (a.time_stamp != b.time_stamp) return a.time_stamp < b.time_stamp;
    return a.seq < b.seq;
  }
};

// One request of a user for the index files, in user order (56 bytes).
struct IndexRow {
  uint64_t user_no;  // users count from 0 in the order they are made
  uint64_t place;    // the request's place in the time order
  uint64_t time_stamp;
  uint64_t offset;
  uint64_t size;
  int32_t page_id;
  uint32_t creation_ts_offset;
  int16_t creation_ts_size;
  char type;
};

// User, then time order.
struct UserPlaceLess {
  bool operator()(const IndexRow &a, const IndexRow &b) const {
    if (a.user_no != b.user_no) return a.user_no < b.user_no;
    return a.place < b.place;
  }
};

// One user, in the order users are made (16 bytes).
struct UserEntry {
  uint64_t user_id;
  uint8_t vvm_id;
};

static_assert(sizeof(LoadedRecord) == 56 && sizeof(SessionRecord) == 64 &&
                  sizeof(IndexRow) == 56 && sizeof(UserEntry) == 16,
              "spill records keep the sizes the budget's shares are counted in");

#endif  // VT_REPLAY_GEN_SPILL_SPILL_RECORDS_H_

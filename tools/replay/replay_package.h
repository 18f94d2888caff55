// Reading a replay package for vt_replay: the index files are checked once at
// the start and each user keeps only its place in its index file; a request's
// group is read again when the user comes to it, and its entry is sent from
// the request file. Memory grows with the users, not with the requests.
#ifndef VT_TOOLS_REPLAY_REPLAY_PACKAGE_H_
#define VT_TOOLS_REPLAY_REPLAY_PACKAGE_H_

#include <stdint.h>

#include <string>
#include <vector>

// One request of an index line: when, which page, and where its entry lies.
struct ReplayGroup {
  uint64_t time_ms = 0;
  int64_t page_id = 0;
  uint64_t offset = 0;
  uint64_t size = 0;  // the entry's final newline included
};

struct ReplayWorker {
  int number = 0;
  int index_fd = -1;
  int req_fd = -1;
  uint64_t req_size = 0;
  uint64_t users = 0, requests = 0;
  size_t longest_group = 0;  // bytes of the longest group of the index file
};

struct ReplayUser {
  uint64_t user_id = 0;
  uint32_t worker = 0;     // position in ReplayPackage::workers
  uint32_t remaining = 0;  // groups not read yet
  uint64_t index_pos = 0;  // offset of the next group (its leading comma) in the index file
};

struct ReplayPackage {
  std::string dir;
  int workers_in_package = 0;
  std::vector<ReplayWorker> workers;  // the selected workers, in number order
  std::vector<ReplayUser> users;      // per worker in index order
  uint64_t requests = 0;
  uint64_t first_time_ms = 0, last_time_ms = 0;
  uint64_t base_ms = 0;  // the package time due at the start: first_time_ms, or 0 for shards
};

// --shard I/N: of the selected workers, in number order, the I-th, the
// I+N-th, and so on (I from 0).
struct ReplayShard {
  int index = 0, count = 1;
};

// Opens dir and checks the index files of the selected workers (all when
// `selected` is empty; of them, the shard's): header line, user lines, every
// group readable, in time order per user and inside the worker's request
// file.
bool open_replay_package(const std::string &dir, const std::vector<int> &selected, ReplayPackage *p,
                         std::string *error, ReplayShard shard = {});
void close_replay_package(ReplayPackage *p);

// Reads the user's next group and moves past it.
bool next_replay_group(const ReplayPackage &p, ReplayUser *u, ReplayGroup *g, std::string *error);

// Reads ",time,page,offset,size" (optionally followed by "|c:n:n") from
// text[0..len); returns the bytes read, 0 when it isn't a group (with
// *too_big set when a number of it is above 2^64-1). The group must end at
// len or before ',' or '\n'.
size_t parse_replay_group(const char *text, size_t len, ReplayGroup *g, bool *too_big = nullptr);

#endif  // VT_TOOLS_REPLAY_REPLAY_PACKAGE_H_

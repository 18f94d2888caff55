// Reading a replay package for vt_replay: the index files are checked once at
// the start and each user keeps only its place in its index file; a request's
// group is read again when the user comes to it, and its entry is sent from
// the request file. Memory grows with the users, not with the requests. The
// package is read under the trust rules of base/package/package_files.h: a
// file that breaks one refuses the whole package before anything is sent.
#ifndef VT_TOOLS_REPLAY_REPLAY_PACKAGE_H_
#define VT_TOOLS_REPLAY_REPLAY_PACKAGE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/package/package_files.h"
#include "base/package/package_format.h"

// One request of an index line: when, which page, and where its entry lies.
using ReplayGroup = IndexGroup;

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
  uint64_t first_ms = 0, last_ms = 0;  // the package times of its first and last request
};

struct ReplayPackage {
  std::string dir;
  Package files;  // the directory and the manifest, when there is one
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
// file; with a manifest, the workers' counts and sizes against it.
bool open_replay_package(const std::string &dir, const std::vector<int> &selected, ReplayPackage *p,
                         std::string *error, ReplayShard shard = {}, bool trust_foreign = false);
void close_replay_package(ReplayPackage *p);

// False with *error when the schedule of the package at speed does not fit
// the clock's nanoseconds.
bool replay_schedule_fits(const ReplayPackage &p, double speed, std::string *error);

// Reads the user's next group and moves past it.
bool next_replay_group(const ReplayPackage &p, ReplayUser *u, ReplayGroup *g, std::string *error);

#endif  // VT_TOOLS_REPLAY_REPLAY_PACKAGE_H_

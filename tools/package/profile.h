// The figures of a replay package: its size, its traffic over time, how the
// workers share it, its page mix, its body sizes and the records rejected on
// the way. One accumulator serves both `vt_package profile`, which reads a
// package's index files, and `vt_package preview`, which feeds it the users
// a run would make.
//
// Definitions: `bytes` sums the entry sizes; the replay duration is the last
// send time minus the first; time is cut into buckets [k*B, (k+1)*B) of
// send time (B = bucket_ms); the mean rate is the requests over the buckets
// from the first request's to the last one's, the peak rate the most
// requests of one bucket, each divided by B in seconds; per minute the same
// with B = 60 s. A user is active from its first to its last send time, both
// included. A body is what an entry's Content-Length counts.
#ifndef VT_PACKAGE_PROFILE_H_
#define VT_PACKAGE_PROFILE_H_

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

struct WorkerFigures {
  int worker = 0;
  uint64_t users = 0;
  uint64_t requests = 0;
  uint64_t bytes = 0;
};

struct PageFigures {
  int page = 0;
  uint64_t requests = 0;
  uint64_t bytes = 0;
};

struct Profile {
  int workers = 0;
  uint64_t users = 0;
  uint64_t requests = 0;
  uint64_t bytes = 0;
  uint64_t first_ms = 0;
  uint64_t last_ms = 0;
  uint64_t duration_ms = 0;
  uint64_t bucket_ms = 1000;
  double rps_mean = 0;
  double rps_peak = 0;
  uint64_t peak_bucket_requests = 0;
  uint64_t peak_bucket_start_ms = 0;
  double rpm_mean = 0;
  uint64_t rpm_peak = 0;
  uint64_t max_active_users = 0;
  uint64_t body_bytes = 0;
  uint64_t body_median = 0;
  uint64_t body_p95 = 0;
  uint64_t body_max = 0;
  std::vector<WorkerFigures> per_worker;  // every worker, in order
  std::vector<PageFigures> per_page;      // pages with requests, by page id
  std::map<int, uint64_t> rejected_by_code;
  // Chart data: time cut into columns of column_ms, a power-of-two multiple
  // of the bucket, so that a chart has few columns whatever the duration.
  uint64_t column_ms = 0;
  std::vector<std::vector<uint64_t>> worker_columns;  // [worker][column]: requests
  std::vector<uint64_t> column_peak;                  // most requests of one bucket, per column
  std::vector<uint64_t> column_active;                // most users active at once, per column
  // The capture's clock time of send time 0 and the service name of every
  // page ("" when unlisted), when they are known: from the package's
  // manifest, or in preview from the run it plans.
  bool has_clock_and_names = false;
  uint64_t capture_start_ms = 0;
  std::vector<std::string> page_names;  // by page id
  // What the reader left out, and why: "<path>: <rule>; <what is left out>".
  std::vector<std::string> problems;
};

// Requests per bucket (or minute): a table for the first kDenseBuckets of
// them, and beyond it only the buckets that hold requests, so that memory
// grows with the requests, not with the latest send time.
constexpr uint64_t kDenseBuckets = uint64_t{1} << 21;
struct BucketCounts {
  std::vector<uint32_t> dense;
  std::map<uint64_t, uint64_t> sparse;
};

// Send times in ascending order, one a call; false when none is left.
using TimeSource = std::function<bool(uint64_t *)>;

// The accumulator: memory grows with users, busy buckets and distinct body
// sizes, not with bytes or the length of the replay.
struct ProfileBuilder {
  int workers = 0;
  uint64_t bucket_ms = 1000;
  uint64_t requests = 0;
  uint64_t bytes = 0;
  uint64_t body_bytes = 0;
  uint64_t min_ms = UINT64_MAX;
  uint64_t max_ms = 0;
  BucketCounts bucket_counts;
  BucketCounts minute_counts;
  size_t max_columns = 0;
  uint64_t column_ms = 0;
  std::vector<std::vector<uint64_t>> worker_columns;
  std::vector<WorkerFigures> per_worker;
  std::vector<PageFigures> per_page;  // by page id
  std::vector<uint64_t> user_first;
  std::vector<uint64_t> user_last;
  uint64_t users = 0;
  // When true, profile_add_user keeps no times, and profile_finish reads the
  // users' first and last times from sorted_firsts and sorted_lasts, each in
  // ascending order (a dry run that spills keeps them in sorted runs on
  // disk).
  bool user_times_elsewhere = false;
  TimeSource sorted_firsts, sorted_lasts;
  std::vector<uint64_t> small_bodies;         // count by size, sizes below 65536
  std::map<uint64_t, uint64_t> large_bodies;  // count by size, the others
  std::string error;                          // why an add was refused
};

void profile_begin(ProfileBuilder *b, int workers, uint64_t bucket_ms);
// One user of worker with its first and last send time.
void profile_add_user(ProfileBuilder *b, int worker, uint64_t first_ms, uint64_t last_ms);
// One request; false (with b->error set) when it cannot be counted.
bool profile_add_request(ProfileBuilder *b, int worker, int page, uint64_t time_ms,
                         uint64_t entry_size, uint64_t body_size);
void profile_finish(ProfileBuilder *b, Profile *p);

// The body length n of an entry of entry_size bytes whose other bytes, but
// for the digits of its Content-Length value, are fixed_head (the head lines,
// "Content-Length: ", "\r\n\r\n" and the final "\n"): entry_size =
// fixed_head + digits(n) + n. False when no n fits.
bool body_size_of_entry(uint64_t entry_size, uint64_t fixed_head, uint64_t *body);

// Reads the package in dir under the trust rules (base/package/package_files.h):
// the index files vt_index_0, 1, ... (and one entry head per page from the
// request files), the error logs and, when there is one, the manifest. False
// with *error set when the package cannot be read, a worker's file breaks a
// rule among them. What is left out (an error log or a worker's file beyond
// the workers that breaks a rule, a manifest that cannot be read or that
// disagrees with the files) is named in p->problems.
bool read_package_profile(const std::string &dir, uint64_t bucket_ms, bool trust_foreign,
                          Profile *p, std::string *error);

// The page's service name from the manifest, or "" without one.
std::string page_name(const Profile &p, int page);

#endif  // VT_PACKAGE_PROFILE_H_

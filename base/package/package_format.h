// The replay package's format, for the generator that writes it and for
// every program that reads it. A replay directory holds, per worker w, the
// request file "vt_req_<w>" (the requests' entries one after the other) and
// the index file "vt_index_<w>": the header line kIndexHeader, then one line
// per user of the worker,
//   <user id, 9 digits at least>,vt_req_<w>{,<time>,<page_id>,<offset>,<size>}
// with "|<type>:<offset>:<size>" after a group whose request carries a
// creation timestamp (where in the entry it lies). Besides them: the error
// logs "error.log.<n>" of the records rejected, and the manifest
// "vt_manifest.json" (manifest.h).
#ifndef VT_BASE_PACKAGE_PACKAGE_FORMAT_H_
#define VT_BASE_PACKAGE_PACKAGE_FORMAT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

extern const char kManifestName[];  // "vt_manifest.json"
extern const char kIndexHeader[];   // the header line, its newline included
extern const size_t kIndexHeaderSize;

constexpr int kMaxPackageWorkers = 256;
// The last millisecond of the year 9999: no clock time of a package (its
// capture's start plus a send time) lies beyond it.
constexpr uint64_t kMaxClockMs = 253402300799999;
// A group is at most this long (numbers may carry leading zeros).
constexpr size_t kMaxIndexGroupBytes = 4096;

std::string request_file_name(int worker);  // "vt_req_<w>"
std::string index_file_name(int worker);    // "vt_index_<w>"
// The worker of "vt_req_<w>" or "vt_index_<w>" (w written as the writer
// writes it), with *index telling which; -1 for any other name.
int worker_of_file_name(const char *name, bool *index);
// "error.log.<digits>".
bool is_error_log_name(const char *name);

// One request of an index line: when it is sent (ms from the capture's
// start), its page, where its entry lies in the request file (the entry's
// final newline included), and where its creation timestamp lies in the
// entry (ts_type 0: none).
struct IndexGroup {
  uint64_t time_ms = 0;
  int64_t page_id = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  char ts_type = 0;
  uint64_t ts_offset = 0;
  uint64_t ts_size = 0;
};

// "<user_id, zero-padded to 9 digits>,vt_req_<worker>" in place of *line.
void start_index_line(uint64_t user_id, int worker, std::string *line);
// Appends ",<time>,<page_id>,<offset>,<size>" and the timestamp's part.
void append_index_group(const IndexGroup &g, std::string *line);

// Reads one group (its leading comma first) from text[0..len): the bytes it
// takes, which end at len or before ',' or '\n'; 0 when it is no group, with
// *fault saying why: unreadable, a number above 2^64-1 (shown), a page id
// beyond 32 bits, a send time beyond kMaxClockMs.
size_t parse_index_group(const char *text, size_t len, IndexGroup *g, std::string *fault);

#endif  // VT_BASE_PACKAGE_PACKAGE_FORMAT_H_

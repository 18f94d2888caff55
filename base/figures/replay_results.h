// The per-request results of a replay (--results FILE): one line per
// request that ended, as JSON lines or, for a name ending in ".csv", as CSV
// with a header line. Times are milliseconds since the start with six
// decimals (to the nanosecond), so that figures made again from the file
// are those of the report. Each sending thread fills its own buffer and
// writes whole lines at a time; the file is made new, like every output.
#ifndef VT_BASE_FIGURES_REPLAY_RESULTS_H_
#define VT_BASE_FIGURES_REPLAY_RESULTS_H_

#include <mutex>
#include <string>

#include "base/figures/replay_stats.h"

enum class ReplayResultsFormat { kJsonLines, kCsv };

// CSV for a name that ends in ".csv" (any case), JSON lines otherwise.
ReplayResultsFormat replay_results_format(const std::string &path);

extern const char kResultsCsvHeader[];  // "planned_ms,sent_ms,...\n"

// Appends the line of one request; worker_number is the worker's number in
// the package (o.worker is its position in the report).
void append_result_line(std::string *out, ReplayResultsFormat format, const ReplayOutcome &o,
                        int worker_number);

struct ReplayResultsFile {
  std::string path;
  ReplayResultsFormat format = ReplayResultsFormat::kJsonLines;
  int fd = -1;
  std::mutex lock;    // one thread writes at a time
  std::string error;  // the first failed write; later lines are dropped
};

// A buffer is written out once it holds this many bytes.
constexpr size_t kResultsBufferBytes = 256 * 1024;

// Makes the file (new: anything already at path is refused) and writes the
// CSV header.
bool open_results_file(const std::string &path, ReplayResultsFile *f, std::string *error);
// The same on fd, a file made new at path; the file owns fd from here on.
bool begin_results_file(const std::string &path, int fd, ReplayResultsFile *f, std::string *error);
// Writes the buffer (whole lines) and empties it.
void flush_results(ReplayResultsFile *f, std::string *buffer);
// Closes the file; false with *error for a write or the close that failed.
bool close_results_file(ReplayResultsFile *f, std::string *error);

// Reads a results file of either format (told by its first line) into the
// figures of a report: every line is a planned request that ended. Workers
// show in number order with the users met.
bool read_results_file(const std::string &path, ReplayStats *s, std::string *error);

#endif  // VT_BASE_FIGURES_REPLAY_RESULTS_H_

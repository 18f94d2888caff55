// Formatting of one capture record of vt_loggen into an output buffer.
#ifndef VT_LOGGEN_LOGGEN_RECORDS_H_
#define VT_LOGGEN_LOGGEN_RECORDS_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/loggen/loggen_plan.h"
#include "tools/loggen/loggen_rng.h"

// The texts of one service.
struct LoggenService {
  std::string action_line;  // HTTP_SOAPACTION="..." or HTTP_WFSOAPACTION="...", with "\n"
  std::string url_line;     // URL=/svc/....svc\n
  std::string operation;    // body element name
};

// url_per_service: service k's path ends in "/k", so that every service has
// a URL of its own.
std::vector<LoggenService> make_services(int64_t count, bool url_per_service);

// A growing byte buffer written to a file descriptor in large pieces.
struct OutBuf {
  int fd = -1;
  std::vector<char> data;
  size_t used = 0;
  uint64_t written = 0;  // bytes handed to write()
  bool failed = false;
};

// Flushes buf when fewer than n bytes are free and grows it when n does not
// fit at all; returns where the n bytes go (used is not advanced).
char *out_reserve(OutBuf *buf, size_t n);
// Writes out what buf holds; false on a write error.
bool out_flush(OutBuf *buf);

// Appends one record: header lines, body, end line and a blank line. record_no
// is the record's number in its file (the xml1= lead-in), window_start_s the
// earliest time a good record has (bad records of code 102 go before it).
// Returns the body bytes the replay generator will measure for it.
uint64_t append_record(OutBuf *buf, const LoggenEvent &e, const LoggenService &svc,
                       uint64_t record_no, int64_t window_start_s, LoggenRng *filler_rng);

// The seconds shown in the RequestTimeEx line of e.
int64_t shown_seconds(const LoggenEvent &e, int64_t window_start_s);

#endif  // VT_LOGGEN_LOGGEN_RECORDS_H_

// Codes of rejected input records and the per-thread error log file.
#ifndef VT_REPLAY_GEN_LOADER_RECORD_ERRORS_H_
#define VT_REPLAY_GEN_LOADER_RECORD_ERRORS_H_

#include <stdint.h>

#include "tools/replay_gen/records.h"

struct Errors {
  char errorString[100];
  int32_t errorCode;
};

// Positions in errors[]; the code of each is 101 + its position.
enum ErrorIndex {
  kErrTimeFormat,    // 101
  kErrTimeRange,     // 102
  kErrSoapRepeated,  // 103
  kErrUrlFormat,     // 104
  kErrTimeMissing,   // 105
  kErrUrlMissing,    // 106
  kErrSoapEmpty,     // 107
  kErrSoapTooLong,   // 108
  kErrUrlTooLong,    // 109
  kErrNameTooLong,   // 110
  kErrBodyTooShort,  // 111
  kErrNulInHeader,   // 112
  kNumErrors
};

extern const Errors errors[kNumErrors];
static_assert(kNumErrors == kNumRecordErrorCodes, "one counter per error code");

// First line of every error log file.
constexpr const char *kErrorLogHeader = "#|Error-Code|Error-Message|Request-File|Line-Number\n";

// Counts one error of the thread and, when its error log file is open,
// writes the error's line.
void record_error(ThreadArgs *thread, ErrorIndex error, const char *seq_file, uint64_t line_no);

#endif  // VT_REPLAY_GEN_LOADER_RECORD_ERRORS_H_

#include "tools/replay_gen/loader/record_errors.h"

#include <stdio.h>

const Errors errors[kNumErrors] = {
    {"Invalid format of RequestTimeEx", 101},
    {"RequestTimeEx is out of range", 102},
    {"SOAPACTION header given multiple times", 103},
    {"Invalid format of Url", 104},
    {"RequestTimeEx is missing", 105},
    {"Url missing", 106},
    {"ALL SOAPACTION header are empty ,can't generate service_name", 107},
    {"SOAPACTION header is too long", 108},
    {"Url is too long", 109},
    {"Service name is too long", 110},
    {"Request body is shorter than its trailer", 111},
    {"NUL byte in SOAPACTION or Url header", 112},
};

void record_error(ThreadArgs *thread, ErrorIndex error, const char *seq_file, uint64_t line_no) {
  thread->t_invalid_request++;
  thread->rejected_by_code[error]++;
  if (!thread->error_file_fp) return;
  fprintf(thread->error_file_fp, "%lu|%d|%s|%s|%lu\n", thread->t_invalid_request,
          errors[error].errorCode, errors[error].errorString, seq_file, line_no);
}

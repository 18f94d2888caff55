// The fuzz cases: what must hold whatever the input. Shared by the fuzz targets and the
// regression test of the inputs the fuzzers found.
#ifndef VT_FUZZ_FUZZ_CASES_H_
#define VT_FUZZ_FUZZ_CASES_H_

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

// Bits of the first byte of a parser case; the rest of the byte string is
// the input file.
constexpr uint8_t kModeServiceName = 1;   // svc_id_uses_svc_name (0: URL mode)
constexpr uint8_t kModeParameterize = 2;  // do_parameterization
constexpr uint8_t kModeIgnoreHeader = 4;  // ignore_header
constexpr uint8_t kModeStartBound = 8;    // REPLAY_PERIOD start
constexpr uint8_t kModeEndBound = 16;     // REPLAY_PERIOD end
constexpr uint8_t kModeServices = 32;     // configured services in the service table
constexpr uint8_t kModeInfoLevel = 64;    // information level 2, progress every request
constexpr uint8_t kModeDebugLevel = 128;  // debug level 4

// The second byte: bits 0-2 all set make the record array grow from one record (else 1024); bits
// 3-4 the host name (loopback, "h", one with no room for a path, none); bits 5-7 a bound offset.
constexpr uint8_t kGrowMask = 7;
constexpr int kHostShift = 3;
constexpr int kBoundShift = 5;

// REPLAY_PERIOD bounds before the offset, in seconds, within the sample logs' times.
constexpr uint64_t kStartBound = 1795000000;
constexpr uint64_t kEndBound = 1795000005;

// A broken property's description, formatted like printf.
inline std::string fuzz_failure(const char *format, ...) __attribute__((format(printf, 1, 2)));
inline std::string fuzz_failure(const char *format, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, format);
  vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

// Each returns "" when everything holds, else what did not.
// data[2..] as one input file, in the modes of data[0] and data[1]: no fatal exit (but an empty
// file's under IGNORE_HEADER), every record accepted or ignored with one error line, accepted
// records numbered 0..n-1 with bodies in the file that end where an end line begins.
std::string run_parser_fuzz_case(const uint8_t *data, size_t size);

// data[2..] cut after every (1 + data[1] / 8)-th end line into at most 16 files, each led by a
// service of its own, loaded by one thread and by 2 + data[1] % 8 (modes of data[0]): the same
// records, numbers, service table and counts, in the same order.
std::string run_loader_fuzz_case(const uint8_t *data, size_t size);

// The field scanners over one text: data[0] the service name buffer's size, data[1] the body
// bytes before, an element name up to the first line break, the text. Results stay in the text.
std::string run_field_fuzz_case(const uint8_t *data, size_t size);

// data as a configuration, read and validated ("#debug" first: debug level 4). REPLAY_DIR lines
// that would run the shell are taken out, replay_dir preset instead (a shell a case is a hundred
// times slower). A refusal ends with -1; an accepted one leaves every value in its range.
std::string run_config_fuzz_case(const uint8_t *data, size_t size);

#endif  // VT_FUZZ_FUZZ_CASES_H_

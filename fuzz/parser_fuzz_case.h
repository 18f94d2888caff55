// Runs the record parser and the field scanners over arbitrary bytes and
// checks what must hold whatever the input. Shared by the fuzz targets and
// the regression tests that keep the inputs the fuzzers found.
#ifndef VT_REPLAY_GEN_LOADER_PARSER_FUZZ_CASE_H_
#define VT_REPLAY_GEN_LOADER_PARSER_FUZZ_CASE_H_

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

// Bits of the second byte: bits 0-2 all set start the record array with
// room for one record, so that it grows (else it holds 1024); the host name (bits 3-4: the loopback
// address, "h", a name that leaves no room for a path, none) and an offset added to both
// REPLAY_PERIOD bounds (bits 5-7).
constexpr uint8_t kGrowMask = 7;
constexpr int kHostShift = 3;
constexpr int kBoundShift = 5;

// REPLAY_PERIOD bounds before the offset, in seconds: they cut through the
// request times of the sample logs.
constexpr uint64_t kStartBound = 1795000000;
constexpr uint64_t kEndBound = 1795000005;

// Parses data[2..] as one input file in a fresh loader thread state, with
// the modes of data[0] and data[1], and checks the outcome: no fatal exit
// (but the one of an empty file under IGNORE_HEADER), every record met is
// accepted or ignored, one error log line per ignored record, accepted
// records numbered 0..n-1 with bodies that lie in the file and end where an
// end line begins. Run-wide values are restored afterwards. Returns "" when
// everything holds, else what did not.
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

std::string run_parser_fuzz_case(const uint8_t *data, size_t size);

// Cuts data[2..] after every (1 + data[1] / 8)-th end line into at most 16
// files, each led by a record of a service of its own, and loads them with
// one loader thread and then with 2 + data[1] % 8 threads, in the modes of
// data[0] (service names, -p, configured services). Checks that both give the same
// records in the same order with the same numbers, the same service table
// in the same order, and the same counts. Returns "" when everything holds.
std::string run_loader_fuzz_case(const uint8_t *data, size_t size);

// Runs the four field scanners over one text. data[0] chooses the size of
// the service name buffer, data[1] the body bytes before the line; then comes
// an element name up to the first line break, then the text. Checks that
// results stay inside the text and that the text is cut or restored as
// documented. Returns "" when everything holds.
std::string run_field_fuzz_case(const uint8_t *data, size_t size);

#endif  // VT_REPLAY_GEN_LOADER_PARSER_FUZZ_CASE_H_

// The record parser over one input file: arbitrary bytes in, accepted
// records and error log lines out. The first two bytes choose the modes
// (fuzz/parser_fuzz_case.h).
#include <stddef.h>
#include <stdint.h>

#include "fuzz/fuzz_main.h"
#include "fuzz/parser_fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  trap_on_failure("record_parser_fuzz", run_parser_fuzz_case(data, size));
  return 0;
}

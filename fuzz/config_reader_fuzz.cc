// The configuration reader and its validation over an arbitrary text.
// REPLAY_DIR lines are taken out and the replay directory preset, so that no
// case runs mkdir or rm through the shell (config_fuzz_case.h).
#include <stddef.h>
#include <stdint.h>

#include "fuzz/config_fuzz_case.h"
#include "fuzz/fuzz_main.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  trap_on_failure("config_reader_fuzz", run_config_fuzz_case(data, size));
  return 0;
}

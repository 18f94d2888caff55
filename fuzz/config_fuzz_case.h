// Reads arbitrary text as a configuration file and checks what must hold
// whatever the text. Shared by the fuzz target and the regression tests that
// keep the inputs the fuzzer found.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_FUZZ_CASE_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_FUZZ_CASE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// The replay directory a case pretends to have created.
constexpr const char *kFuzzReplayDir = "/tmp/vt_config_fuzz_replay";

// Reads data as a configuration file, then validates it. REPLAY_DIR lines
// that would create or remove their directory through the shell are taken
// out of the text first and replay_dir is set to kFuzzReplayDir instead:
// reading and validation only need the value, and a shell per case would
// make the case a hundred times slower. A first line "#debug" turns debug
// level 4 on for the case. A refused configuration must end with status -1;
// an accepted one must have left every value in its documented range.
// Every configuration value is reset (and released) afterwards. Returns ""
// when everything holds, else what did not.
std::string run_config_fuzz_case(const uint8_t *data, size_t size);

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_FUZZ_CASE_H_

// The configuration reader's fuzz case, shared by its target and the regression test.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_FUZZ_CASE_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_FUZZ_CASE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// The replay directory a case pretends to have created.
constexpr const char *kFuzzReplayDir = "/tmp/vt_config_fuzz_replay";

// Reads and validates data as a configuration ("#debug" first: debug level 4). REPLAY_DIR lines
// that would run the shell are taken out, replay_dir preset instead (a shell a case is a hundred
// times slower). A refusal ends with -1; an accepted one leaves every value in its range.
// Returns "" when everything holds, else what did not.
std::string run_config_fuzz_case(const uint8_t *data, size_t size);

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_FUZZ_CASE_H_

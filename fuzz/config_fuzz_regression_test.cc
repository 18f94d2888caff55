// Inputs of the configuration fuzz target, replayed with the target's own
// checks: the seed corpus, and the inputs that once broke a property (kept
// with the fix they led to).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/config_fuzz_case.h"

namespace {

struct Input {
  std::string name;
  std::string bytes;
};

const Input kFindings[] = {
    // Longer than the fuzz target's inputs: a line of more than 102399
    // characters is read in pieces, the second one a line of its own.
    {"line read in two pieces", std::string("HTTP_HEADER|") + std::string(102400 - 12, 'x') +
                                    "SCRIPT_TYPE|Legacy\nREPLAY_DIR|/r\n"},
};

TEST(ConfigFuzzInputs, PropertiesHold) {
  std::vector<Input> inputs(std::begin(kFindings), std::end(kFindings));
  for (const auto &entry :
       std::filesystem::directory_iterator(VT_FUZZ_CORPUS_DIR "/config_reader_fuzz")) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    inputs.push_back({entry.path().filename(), bytes.str()});
  }
  ASSERT_GT(inputs.size(), 10u);
  for (const Input &input : inputs)
    EXPECT_EQ(run_config_fuzz_case(reinterpret_cast<const uint8_t *>(input.bytes.data()),
                                   input.bytes.size()),
              "")
        << input.name;
}

}  // namespace

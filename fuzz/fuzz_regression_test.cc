// The seed corpora and past findings (finding_*) through the fuzz cases' checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/fuzz_cases.h"
#include "tools/replay_gen/test_files.h"

namespace {

TEST(FuzzInputs, PropertiesHold) {
  const struct {
    const char *target;
    std::string (*run)(const uint8_t *, size_t);
  } targets[] = {{"record_parser_fuzz", run_parser_fuzz_case},
                 {"field_scanners_fuzz", run_field_fuzz_case},
                 {"parallel_loader_fuzz", run_loader_fuzz_case},
                 {"config_reader_fuzz", run_config_fuzz_case}};
  for (const auto &t : targets) {
    int inputs = 0;
    for (const auto &entry :
         std::filesystem::directory_iterator(std::string(VT_FUZZ_CORPUS_DIR "/") + t.target)) {
      std::string bytes = read_text(entry.path());
      testing::internal::CaptureStdout();  // the scanners print URL paths
      std::string why = t.run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(why, "") << t.target << ": " << entry.path().filename();
      inputs++;
    }
    EXPECT_GT(inputs, 10) << t.target;
  }
}

}  // namespace

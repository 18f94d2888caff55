// Inputs of the record parser, field scanner and parallel loader fuzz
// targets, replayed with the targets' own checks: the seed corpora, and the
// inputs that once broke a property (kept with the fix they led to).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/parser_fuzz_case.h"
#include "tools/replay_gen/loader/loader_test_support.h"

namespace {

struct Input {
  std::string name;
  std::string bytes;
};

std::vector<Input> corpus(const std::string &target) {
  std::vector<Input> inputs;
  for (const auto &entry : std::filesystem::directory_iterator(VT_FUZZ_CORPUS_DIR "/" + target))
    inputs.push_back({entry.path().filename(), read_text(entry.path())});
  return inputs;
}

std::string operator""_b(const char *text, size_t len) {
  return std::string(text, len);
}

// Parser inputs: the two mode bytes, then the file.
const Input kParserFindings[] = {
    // Longer than the fuzz target's inputs: under IGNORE_HEADER a first line
    // of more than 9999 bytes, whose rest is read as the record's time line.
    {"header line read in two parts",
     "\x05\x00"_b + std::string(9999, 'h') +
         "RequestTimeEx=1795000003.25\nHTTP_SOAPACTION=\"urn:Store/IService/GetData\"\n"
         "URL=/svc/Service.svc\nxml1=000000001<XACustId>4</XACustId>&xmlEnd=00\n*******\n"},
    // Longer than the fuzz target's inputs: URL mode with the host "h", and a
    // name from the URL that leaves no room for _MissingIndex.
    {"service name too long", "\x00\x08RequestTimeEx=1795000003.25\nURL=/"_b +
                                  std::string(10005, 'n') +
                                  "\nxml1=000000001<a/>1234567890&xmlEnd=00\n*******\n"},
};

// Field scanner inputs: name buffer size, bytes before, element name, "\n",
// text.
const Input kFieldFindings[] = {
    // Once a false alarm of the check itself: the name runs past the cut.
    {"element name ending inside the closing tag", "\xff<XAC)stId><\0\n<XAC)stId></d></a>"_b},
};

// Each input is run with its console output (levels, URL paths) held back.
TEST(FuzzInputs, PropertiesHold) {
  using Run = std::string (*)(const uint8_t *, size_t);
  const struct {
    const char *target;
    Run run;
    std::vector<Input> findings;
  } targets[] = {
      {"record_parser_fuzz",
       run_parser_fuzz_case,
       {std::begin(kParserFindings), std::end(kParserFindings)}},
      {"field_scanners_fuzz",
       run_field_fuzz_case,
       {std::begin(kFieldFindings), std::end(kFieldFindings)}},
      {"parallel_loader_fuzz", run_loader_fuzz_case, {}},
  };
  for (const auto &t : targets) {
    std::vector<Input> inputs = corpus(t.target);
    ASSERT_GT(inputs.size(), 10u) << t.target;
    inputs.insert(inputs.end(), t.findings.begin(), t.findings.end());
    for (const Input &input : inputs) {
      testing::internal::CaptureStdout();
      std::string why =
          t.run(reinterpret_cast<const uint8_t *>(input.bytes.data()), input.bytes.size());
      testing::internal::GetCapturedStdout();
      EXPECT_EQ(why, "") << t.target << ": " << input.name;
    }
  }
}

}  // namespace

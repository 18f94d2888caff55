#include "base/package/manifest.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "base/package/package_identity.h"

namespace {

Manifest two_workers() {
  Manifest m;
  m.tool_version = "1.0.0", m.made_at = "2026-12-07T02:10:40Z", m.config = "/c.conf";
  m.capture_start_ms = 1795000000123, m.workers = 2;
  for (int w = 0; w < 2; w++)
    m.files.push_back({w, 1, 3, {"", 58, std::string(32, 'a')}, {"", 130, std::string(32, 'b')}});
  m.services.push_back({0, "IService_GetData", "POST", "http://h/a", 6});
  return m;
}

// Read back; each key required with its type, the first wrong one named (more: hostile.sh).
TEST(Manifest, ReadsBackAndNamesTheKeyAtFault) {
  const std::string text = format_manifest_text(two_workers());
  Manifest m;
  std::string error;
  ASSERT_TRUE(parse_manifest(text, &m, &error)) << error;
  EXPECT_EQ(m.capture_start + " " + std::to_string(m.users) + " " + std::to_string(m.requests) +
                " " + m.files[1].index_file.name,
            "2026-11-18T11:06:40.123Z 2 6 vt_index_1");
  EXPECT_EQ(m.identity, package_identity(text));
  ASSERT_NE(manifest_service(m, 0), nullptr);
  EXPECT_EQ(manifest_service(m, 0)->name, "IService_GetData");
  EXPECT_EQ(manifest_service(m, 1), nullptr);
  struct Case {
    std::string from, to, error;
  } cases[] = {
      {"\"format\": 1", "\"format\": 2", "format 2 is not known here (format 1 is)"},
      {"\"workers\": 2", "\"workers\": 257", "\"workers\" must be a whole number up to 256"},
      {"\"workers\": 2", "\"workers\": 3", "lists 3 workers but 2 workers' files"},
      {"\"tool\": \"vtu_replay_gen\"", "\"tool\": 3", "\"tool\" must be a string"},
      {"\"requests\": 6", "\"requests\": 888888", "\"requests\" 888888 is not the workers' sum"},
      {"\"users\": 1, \"requests\": 3", "\"users\": 18446744073709551615, \"requests\": 3",
       "the workers' users or requests add up beyond 2^64-1"},
      {"\"size\": 58", "\"size\": \"58\"", "files[0].request_file: \"size\" must be a count"},
      {"\"xxh3_128\": \"a", "\"xxh3_128\": \"A", "files[0].request_file: \"xxh3_128\" must be 32"},
      {"\"name\": \"vt_req_1\"", "\"name\": \"vt_req_2\"",
       "files[1] is not worker 1 with vt_req_1 and vt_index_1"},
      {"\"index_file\": {", "\"index_file\": 1, \"x\": {",
       "files[0]: \"index_file\" must be an object"},
      {"\"name\": \"IService_GetData\"", "\"nam\": \"x\"",
       "services[0]: \"name\" must be a string"},
      {"\"services\": [", "\"services\": 1, \"x\": [", "\"services\" must be a list"},
      {"\"format\": 1,", "\"format\": 1", "line 3 column 8: syntax error while parsing object"},
      {"{\n  \"format\"", "[{\"format\"", "line 26 column 1: syntax error while parsing array"},
      {"\"/c.conf\"", "\"/caf\xe9\"", "line 6 column 19: syntax error while parsing value"},
  };
  for (const Case &c : cases) {
    std::string bad = text;
    size_t at = bad.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    bad.replace(at, c.from.size(), c.to);
    EXPECT_FALSE(parse_manifest(bad, &m, &error)) << c.to;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.to << ": " << error;
  }
  EXPECT_FALSE(parse_manifest("[]", &m, &error));
  EXPECT_EQ(error, "not a JSON object");
}

// A package's identity: its manifest's digest, none without; an unreadable one an error.
TEST(Manifest, IdentityOfAPackage) {
  char tmpl[] = "/tmp/vt_identity_test.XXXXXX";
  std::string dir = mkdtemp(tmpl), id = "x", error, text = format_manifest_text(two_workers());
  EXPECT_TRUE(read_package_identity(dir, &id, &error));
  EXPECT_EQ(id, "");
  std::ofstream(dir + "/vt_manifest.json") << text;
  EXPECT_TRUE(read_package_identity(dir, &id, &error));
  EXPECT_EQ(id, package_identity(text));
  EXPECT_EQ(package_identity("abc"), "06b05ab6733a618578af5f94892f3950");
  std::ofstream(dir + "/vt_manifest.json") << "{";
  EXPECT_FALSE(read_package_identity(dir, &id, &error));
  EXPECT_EQ(error.rfind(dir + "/vt_manifest.json: line 1", 0), 0u) << error;
  std::filesystem::remove_all(dir);
}

}  // namespace

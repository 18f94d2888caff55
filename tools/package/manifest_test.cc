#include "tools/package/manifest.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/core/digest.h"
#include "tools/package/json_reader.h"
#include "tools/package/package_check.h"

namespace {

// Values, escapes, nesting and numbers kept as written; then faults, each
// with where it is.
TEST(JsonReader, ValuesAndFaults) {
  JsonValue v;
  std::string error;
  ASSERT_TRUE(json_parse(
      " {\"a\": [1, -2.5e3, true, false, null], \"s\": "
      "\"q\\\"\\\\\\/"
      "\\n\\b\\f\\r\\t\\u00e9\\u007f\\u0080\\u07ff\\u0800\\uffff\\ud83d\\ude00\\ud83c\\udf7b\","
      " \"big\": 18446744073709551615, \"a\": { }, \"e\": [\n]} \n",
      &v, &error))
      << error;
  // The last of two equal keys counts.
  for (auto [key, kind] : {std::pair{"a", JsonValue::kObject}, {"e", JsonValue::kArray}}) {
    const JsonValue *m = json_member(v, key);
    ASSERT_NE(m, nullptr) << key;
    EXPECT_EQ(m->kind, kind) << key;
    EXPECT_TRUE(m->members.empty() && m->items.empty()) << key;
  }
  std::string s;
  ASSERT_TRUE(json_text(json_member(v, "s"), &s));
  EXPECT_EQ(s,
            "q\"\\/"
            "\n\b\f\r\t\xc3\xa9\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x9f\x98\x80\xf0\x9f"
            "\x8d\xbb");
  uint64_t n = 0;
  EXPECT_TRUE(json_u64(json_member(v, "big"), &n));
  EXPECT_EQ(n, UINT64_MAX);
  ASSERT_TRUE(json_parse("[1, -2.5e3, 18446744073709551616, 0.5]", &v, &error));
  EXPECT_EQ(v.items[1].text, "-2.5e3");
  EXPECT_TRUE(json_u64(&v.items[0], &n));
  for (size_t i = 1; i < 4; i++) EXPECT_FALSE(json_u64(&v.items[i], &n)) << i;
  EXPECT_FALSE(json_u64(nullptr, &n));

  struct Case {
    std::string text;
    const char *error;
  } faults[] = {
      {"", "line 1 column 1: a value is missing"},
      {"{\"a\": 1,\n \"b\" 2}", "line 2 column 6: expected : after a member name"},
      {"[1 2]", "line 1 column 4: expected , or ] in an array"},
      {"{\"a\": 01}", "line 1 column 8: expected , or } in an object"},
      {"\"tab\there\"", "line 1 column 5: a control character in a string"},
      {"\"\\x\"", "line 1 column 2: an unknown escape in a string"},
      {"\"\\u12g4\"", "\\u needs four hexadecimal digits"},
      {"\"open", "the string does not end"},
      {"1.", "a digit must follow the decimal point"},
      {"1e", "line 1 column 3: a digit must follow the exponent"},
      {"[2E+]", "line 1 column 5: a digit must follow the exponent"},
      {"tru", "unexpected text"},
      {"{} {}", "line 1 column 4: text after the value"},
      {std::string("[\0]", 3), "line 1 column 2: unexpected text"},
      {std::string(65, '[') + std::string(65, ']'), "nested deeper than 64"},
  };
  for (const Case &c : faults) {
    EXPECT_FALSE(json_parse(c.text, &v, &error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
  }
  EXPECT_TRUE(json_parse(std::string(64, '[') + std::string(64, ']'), &v, &error)) << error;
}

const char *kIndexHeader =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";

std::string entry(const std::string &body) {
  return "POST /a HTTP/1.0\r\nHost: h\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body + "\n";
}

// A sound package of `workers` workers, one user with one request each, and
// the manifest text that describes it.
struct TestPackage {
  std::string dir;
  std::string manifest;

  explicit TestPackage(int workers, const std::string &tag = "") {
    char tmpl[] = "/tmp/vt_manifest_test.XXXXXX";
    dir = mkdtemp(tmpl);
    manifest =
        "{\"format\": 1, \"tool\": \"vtu_replay_gen\", \"tool_version\": \"1.0.0\", "
        "\"made_at\": \"2026-12-07T02:10:40Z\", \"config\": \"/c.conf\", \"input\": {}, "
        "\"capture_start_ms\": 1795000000123, \"capture_start\": "
        "\"2026-11-18T11:06:40.123Z\", \"workers\": " +
        std::to_string(workers) + ", \"files\": [";
    for (int w = 0; w < workers; w++) {
      std::string req = entry("body of " + std::to_string(w) + tag);
      std::string index = kIndexHeader + std::string("000000001,vt_req_") + std::to_string(w) +
                          ",0,0,0," + std::to_string(req.size()) + "\n";
      write("vt_req_" + std::to_string(w), req);
      write("vt_index_" + std::to_string(w), index);
      manifest += std::string(w ? "," : "") + "{\"worker\": " + std::to_string(w) +
                  ", \"users\": 1, \"requests\": 1, \"request_file\": " +
                  file_json("vt_req_" + std::to_string(w)) +
                  ", \"index_file\": " + file_json("vt_index_" + std::to_string(w)) + "}";
    }
    manifest +=
        "], \"services\": [{\"page_id\": 0, \"name\": \"IService_GetData\", \"method\": "
        "\"POST\", \"url\": \"http://h/a\", \"requests\": " +
        std::to_string(workers) + "}]}\n";
  }
  ~TestPackage() { std::filesystem::remove_all(dir); }

  std::string file_json(const std::string &name) const {
    std::string hex, why;
    uint64_t size = 0;
    EXPECT_TRUE(vtlb_digest_file((dir + "/" + name).c_str(), &hex, &size, &why)) << why;
    return "{\"name\": \"" + name + "\", \"size\": " + std::to_string(size) + ", \"xxh3_128\": \"" +
           hex + "\"}";
  }
  void write(const std::string &name, const std::string &data) const {
    std::ofstream(dir + "/" + name, std::ios::binary | std::ios::trunc) << data;
  }
};

// What check says of a package whose files no longer match its manifest:
// every case names the file ("DIR" stands for the package's directory).
// Without a manifest only the check of the files themselves counts: a
// package without one checks as it always did.
TEST(Manifest, CheckNamesTheFileThatDiffers) {
  struct Case {
    const char *what;
    void (*spoil)(const TestPackage &p);
    ManifestState state;
    std::vector<std::string> problems;
  } cases[] = {
      {"nothing", [](const TestPackage &) {}, ManifestState::kRead, {}},
      {"no manifest, and one byte of a request file",
       [](const TestPackage &p) {
         std::filesystem::remove(p.dir + "/" + kManifestFile);
         p.write("vt_req_1", entry("body of 2"));
       },
       ManifestState::kAbsent,
       {}},
      {"one byte of a request file",
       [](const TestPackage &p) { p.write("vt_req_1", entry("body of 2")); },
       ManifestState::kRead,
       {"vt_req_1: digest differs from the manifest's (the file changed)"}},
      {"a worker's files replaced by another package's",
       [](const TestPackage &p) {
         TestPackage other(2, "x");
         std::filesystem::copy_file(other.dir + "/vt_req_0", p.dir + "/vt_req_0",
                                    std::filesystem::copy_options::overwrite_existing);
         std::filesystem::copy_file(other.dir + "/vt_index_0", p.dir + "/vt_index_0",
                                    std::filesystem::copy_options::overwrite_existing);
       },
       ManifestState::kRead,
       {"vt_req_0: 60 bytes where the manifest says 58",
        "vt_index_0: digest differs from the manifest's (the file changed)"}},
      {"a worker added",
       [](const TestPackage &p) {
         TestPackage other(3);
         for (const char *name : {"vt_req_2", "vt_index_2"})
           std::filesystem::copy_file(other.dir + "/" + name, p.dir + "/" + name);
       },
       ManifestState::kRead,
       {"vt_req_2: a worker the manifest does not list (it lists 2 workers)",
        "vt_index_2: a worker the manifest does not list (it lists 2 workers)"}},
      {"an index file removed",
       [](const TestPackage &p) { std::filesystem::remove(p.dir + "/vt_index_1"); },
       ManifestState::kRead,
       {"DIR: vt_req_1 has no index file", "vt_index_1: missing, the manifest lists it"}},
      {"a manifest that is no JSON",
       [](const TestPackage &p) { p.write(kManifestFile, "{\"format\": 1,"); },
       ManifestState::kUnreadable,
       {"DIR/vt_manifest.json: line 1 column 14: expected a member name in quotes"}},
      {"a manifest of another format",
       [](const TestPackage &p) { p.write(kManifestFile, "{\"format\": 2}"); },
       ManifestState::kUnreadable,
       {"DIR/vt_manifest.json: format 2 is not known here (format 1 is)"}},
      {"a manifest that is a JSON list",
       [](const TestPackage &p) { p.write(kManifestFile, "[{\"format\": 1}]"); },
       ManifestState::kUnreadable,
       {"DIR/vt_manifest.json: not a JSON object"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TestPackage p(2);
    p.write(kManifestFile, p.manifest);
    c.spoil(p);
    PackageSummary summary;
    std::vector<std::string> problems = check_replay_package(p.dir, &summary);
    for (std::string &problem : problems)
      if (problem.rfind(p.dir, 0) == 0) problem.replace(0, p.dir.size(), "DIR");
    EXPECT_EQ(problems, c.problems);
    EXPECT_EQ(summary.manifest, c.state);
  }
}

// Every key is required with its type; the message names the first that is
// not right, with where it lies.
TEST(Manifest, ParseNamesTheKeyAtFault) {
  TestPackage p(1);
  Manifest m;
  std::string error;
  ASSERT_TRUE(parse_manifest(p.manifest, &m, &error)) << error;
  EXPECT_EQ(m.capture_start_ms, 1795000000123u);
  ASSERT_NE(manifest_service(m, 0), nullptr);
  EXPECT_EQ(manifest_service(m, 0)->name, "IService_GetData");
  EXPECT_EQ(manifest_service(m, 1), nullptr);
  EXPECT_EQ(manifest_service(m, -1), nullptr);
  // A list not in page order is searched.
  Manifest moved = m;
  moved.services[0].page_id = 5;
  ASSERT_NE(manifest_service(moved, 5), nullptr);
  EXPECT_EQ(manifest_service(moved, 5)->name, "IService_GetData");
  EXPECT_EQ(manifest_service(moved, 0), nullptr);
  struct Case {
    std::string from, to;
    const char *error;
  } cases[] = {
      {"\"workers\": 1", "\"workers\": 257", "\"workers\" must be a whole number up to 256"},
      {"\"capture_start_ms\": 1795000000123", "\"capture_start_ms\": -1",
       "\"capture_start_ms\" must be a whole number"},
      {"\"tool\": \"vtu_replay_gen\"", "\"tool\": 3", "\"tool\" must be a string"},
      {"\"size\": 58", "\"size\": \"58\"",
       "files[0].request_file: \"size\" must be a whole number"},
      {"\"xxh3_128\": \"", "\"xxh3_128\": \"A", "files[0].request_file: \"xxh3_128\" must be 32"},
      {"\"index_file\": {", "\"index_file\": 1, \"x\": {",
       "files[0]: \"index_file\" must be an object"},
      {"\"name\": \"IService_GetData\"", "\"nam\": \"x\"",
       "services[0]: \"name\" must be a string"},
      {"\"services\": [", "\"services\": 1, \"x\": [", "\"services\" must be a list"},
      {"\"files\": [", "\"file\": [", "\"files\" must be a list"},
  };
  for (const Case &c : cases) {
    std::string text = p.manifest;
    size_t at = text.find(c.from);
    ASSERT_NE(at, std::string::npos) << c.from;
    text.replace(at, c.from.size(), c.to);
    EXPECT_FALSE(parse_manifest(text, &m, &error)) << c.to;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.to << ": " << error;
  }
}

}  // namespace

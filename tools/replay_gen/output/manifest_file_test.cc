#include "tools/replay_gen/output/manifest_file.h"

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include "base/core/failing_io_test_support.h"
#include "base/core/utc_time.h"
#include "base/package/manifest.h"
#include "tools/package/package_check.h"
#include "tools/replay_gen/output/package_test_fixture.h"
#include "tools/replay_gen/run_state.h"

namespace {

using ManifestFile = PackageTest;

// A package of three workers (one idle) read back by vt_package's reader:
// every figure as the run knows it, and the files as they lie on the disk.
TEST_F(ManifestFile, ReadsBackAndMatchesTheFiles) {
  set_services(2);
  free(run.services.service_map_ptr[1].url);
  run.services.service_map_ptr[1].url = strdup(
      "http://h/caf\xc3\xa9/\xe2\x82\xac\xf0\x9f\x98\x80\xed\xa0\x80/"
      "\x01\xff\xc2\xa0\xc1\xbf\"q\"");
  run.services.service_map_ptr[1].num_requests = 2;
  run.workers.num_vvm = 3;
  snprintf(run.config.input_dir, kTextBufSize, "INPUT_DIR|/logs|20261201,20261202|SOAP.log.1");
  run.config.start_time_stamp = 1796400000;
  load({{7, kT + 5000, 1, "late"}, {8, kT + 300, 0, "body-8"}, {7, kT + 250, 1, "early"}});
  run_steps();
  ASSERT_TRUE(write_vortan_index_file(run, &err));
  note_manifest_sources(run, "no/such/replay.conf");
  struct timespec before, after;
  clock_gettime(CLOCK_REALTIME, &before);
  ASSERT_TRUE(write_package_manifest(run, &err));
  clock_gettime(CLOCK_REALTIME, &after);

  Manifest m;
  std::string error;
  ASSERT_TRUE(parse_manifest(file(kManifestName), &m, &error)) << error;
  EXPECT_EQ(m.format, 1);
  EXPECT_EQ(m.tool, "vtu_replay_gen");
  EXPECT_EQ(m.config, "no/such/replay.conf");  // as given when it does not resolve
  EXPECT_EQ(m.capture_start_ms, kT + 250);     // the earliest request, whatever the order
  EXPECT_EQ(m.capture_start, "2026-12-04T16:05:09.250Z");
  // Made at the second of the clock it was written in.
  EXPECT_TRUE(m.made_at == vtlb_utc_iso(static_cast<uint64_t>(before.tv_sec) * 1000, false) ||
              m.made_at == vtlb_utc_iso(static_cast<uint64_t>(after.tv_sec) * 1000, false))
      << m.made_at;
  ASSERT_EQ(m.workers, 3);
  ASSERT_EQ(m.files.size(), 3u);
  uint64_t users[] = {1, 1, 0}, requests[] = {2, 1, 0};
  for (int w = 0; w < 3; w++) {
    EXPECT_EQ(m.files[w].users, users[w]) << w;
    EXPECT_EQ(m.files[w].requests, requests[w]) << w;
    EXPECT_EQ(m.files[w].request_file.size, file("vt_req_" + std::to_string(w)).size());
    EXPECT_EQ(m.files[w].index_file.size, file("vt_index_" + std::to_string(w)).size());
  }
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  EXPECT_EQ(summary.manifest, ManifestState::kRead);
  ASSERT_EQ(m.services.size(), 2u);
  EXPECT_EQ(m.services[1].name, "Svc1");
  EXPECT_EQ(m.services[1].method, "POST");
  // UTF-8 of two (from lead byte 0xc2), three and four bytes stays as it
  // is; other bytes (a surrogate's and an overlong 0xc1 pair among them)
  // read back as the code point of their value.
  EXPECT_EQ(m.services[1].url,
            "http://h/caf\xc3\xa9/\xe2\x82\xac\xf0\x9f\x98\x80\xc3\xad\xc2\xa0\xc2\x80/"
            "\x01\xc3\xbf\xc2\xa0\xc3\x81\xc2\xbf\"q\"");
  EXPECT_EQ(m.services[1].requests, 2u);

  std::string text = file(kManifestName);
  for (const char *part :
       {"\"input_dir\": \"/logs|20261201,20261202|SOAP.log.1\", \"base\": \"/logs\", \"days\": "
        "\"20261201,20261202\", \"files\": \"SOAP.log.1\"",
        "\"input_files\": 0, \"records\": 3, \"accepted\": 3, \"rejected\": 0",
        "\"replay_period\": {\"start\": \"2026-12-04T16:00:00Z\", \"start_s\": 1796400000, "
        "\"end\": null, \"end_s\": null}",
        "\"users\": 2,\n  \"requests\": 3,\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\nin\n" << text;

  // The manifest is made new like every file of the package.
  Outcome o = run_to_end([&](Failure *e) { return write_package_manifest(run, e); });
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "write_package_manifest:Error in writing manifest " + dir +
                       "/vt_manifest.json: File exists\n");
  // A close that reports a late write error ends the run too.
  unlink((dir + "/vt_manifest.json").c_str());
  vt_fail_close_of("/vt_manifest.json", EIO, 1);
  o = run_to_end([&](Failure *e) { return write_package_manifest(run, e); });
  vt_fail_close_of("", 0, 0);
  EXPECT_EQ(o.status, -1);
  EXPECT_EQ(o.err, "write_package_manifest:Error in writing manifest " + dir +
                       "/vt_manifest.json: Input/output error\n");
}

// The INPUT_DIR value's parts: none, an empty day part, an empty file part.
TEST_F(ManifestFile, InputSelectionParts) {
  struct Case {
    const char *value;
    const char *parts;
  } cases[] = {
      {"INPUT_DIR|/logs", "\"base\": \"/logs\", \"days\": null, \"files\": null"},
      {"INPUT_DIR|/logs|", "\"base\": \"/logs\", \"days\": null, \"files\": null"},
      {"INPUT_DIR|/logs||SOAP.log1-SOAP.log3",
       "\"base\": \"/logs\", \"days\": null, \"files\": \"SOAP.log1-SOAP.log3\""},
      {"INPUT_DIR|/logs|20261201|", "\"base\": \"/logs\", \"days\": \"20261201\", \"files\": null"},
  };
  for (const Case &c : cases) {
    snprintf(run.config.input_dir, kTextBufSize, "%s", c.value);
    note_manifest_sources(run, "x.conf");
    std::string text = format_manifest(run, 0);
    EXPECT_NE(text.find(c.parts), std::string::npos) << c.value << "\n" << text;
  }
}

}  // namespace

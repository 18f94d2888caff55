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
// its counts and sizes agree with the files (check_replay_package), and what
// the end-to-end packages do not show is there (a configuration that does
// not resolve, the capture's start out of order, the time it was made, a
// replay period); the manifest is made new and written whole like every
// file of the package. (The rest of its text: the end-to-end packages.)
TEST_F(ManifestFile, ReadsBackAndMatchesTheFiles) {
  set_services(2);
  run.workers.num_vvm = 3;
  run.config.start_time_stamp = 1796400000;
  load({{7, kT + 5000, 1, "late"}, {8, kT + 300, 0, "body-8"}, {7, kT + 250, 1, "early"}});
  run_steps();
  ASSERT_TRUE(write_vortan_index_file(run, &err));
  note_manifest_sources(run, "no/such/replay.conf");
  struct timespec before, after;
  clock_gettime(CLOCK_REALTIME, &before);
  ASSERT_TRUE(write_package_manifest(run, &err));
  clock_gettime(CLOCK_REALTIME, &after);
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  EXPECT_EQ(summary.manifest, ManifestState::kRead);

  Manifest m;
  std::string error;
  ASSERT_TRUE(parse_manifest(file(kManifestName), &m, &error)) << error;
  EXPECT_EQ(m.config, "no/such/replay.conf");  // as given when it does not resolve
  EXPECT_EQ(m.capture_start_ms, kT + 250);     // the earliest request, whatever the order
  EXPECT_EQ(m.capture_start, "2026-12-04T16:05:09.250Z");
  // Made at the second of the clock it was written in.
  EXPECT_TRUE(m.made_at == vtlb_utc_iso(static_cast<uint64_t>(before.tv_sec) * 1000, false) ||
              m.made_at == vtlb_utc_iso(static_cast<uint64_t>(after.tv_sec) * 1000, false))
      << m.made_at;
  EXPECT_NE(file(kManifestName)
                .find("\"replay_period\": {\"start\": \"2026-12-04T16:00:00Z\", \"start_s\": "
                      "1796400000, \"end\": null, \"end_s\": null}"),
            std::string::npos);

  const std::string fails = "-1write_package_manifest:Error in writing manifest " + dir;
  auto write_again = [&] {
    return run_to_end([&](Failure *e) { return write_package_manifest(run, e); }).text();
  };
  EXPECT_EQ(write_again(), fails + "/vt_manifest.json: File exists\n");
  unlink((dir + "/vt_manifest.json").c_str());
  vt_fail_close_of("/vt_manifest.json", EIO, 1);  // a late write error
  EXPECT_EQ(write_again(), fails + "/vt_manifest.json: Input/output error\n");
  vt_fail_close_of("", 0, 0);
}

// The INPUT_DIR value's parts: none, an empty day part, an empty file part, all.
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
      {"INPUT_DIR|/logs|20261201,20261202|SOAP.log.1",
       "\"base\": \"/logs\", \"days\": \"20261201,20261202\", \"files\": \"SOAP.log.1\""},
  };
  for (const Case &c : cases) {
    snprintf(run.config.input_dir, kTextBufSize, "%s", c.value);
    note_manifest_sources(run, "x.conf");
    std::string text = format_manifest(run, 0);
    EXPECT_NE(text.find(c.parts), std::string::npos) << c.value << "\n" << text;
  }
}

}  // namespace

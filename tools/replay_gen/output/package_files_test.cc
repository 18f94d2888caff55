// The package's files: the request files, the index files and the manifest.
#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <tuple>

#include "base/core/failing_io_test_support.h"
#include "base/core/utc_time.h"
#include "base/package/manifest.h"
#include "tools/package/package_check.h"
#include "tools/replay_gen/output/manifest_file.h"
#include "tools/replay_gen/output/package_test_fixture.h"

namespace {

using PackageFiles = PackageTest;

// 70000 requests of one user stay with that user, in one index line.
TEST_F(PackageFiles, UserWithMoreThan65535Requests) {
  set_services(1);
  load(std::vector<TestRecord>(70000, {77, kT, 0, "r"}));
  run_steps();
  EXPECT_EQ(run.counters.max_req_per_user, 70000);
  EXPECT_TRUE(write_vortan_index_file(run, &err));
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), std::vector<std::string>{});
  EXPECT_EQ(std::make_tuple(summary.users, summary.requests), std::make_tuple(1u, 70000u));
}

// The worker count is taken from 1 to 256; any other fails the run naming it.
TEST_F(PackageFiles, WorkerCountBounds) {
  for (int workers : {0, 1, 256, 257, -1}) {
    run.workers.num_vvm = workers;
    int n;
    EXPECT_EQ(run_to_end([&](Failure *e) { return checked_num_vvm(run, "f", &n, e); }).text(),
              workers >= 1 && workers <= 256
                  ? "0"
                  : "-1f:Invalid number of workers " + std::to_string(workers) +
                        ": it must be between 1 and 256\n");
  }
}

// Failures end the run naming what and why, each file keeping what it held.
TEST_F(PackageFiles, FailuresEndTheRunNamingWhatAndWhy) {
  const std::string sendfile = "1add_request_new:sendfile error:input file ends before the body ";
  const std::string full =
      "-1add_request_new:write to output file vt_req_0 failed: File too large\n";
  auto body_size = [this](uint64_t size) {  // 5 bytes ("body\n") are left in the file
    run.records.seq_data_arr[0].req_size = size;
    return steps();
  };
  auto full_disk = [this](uint64_t size) {  // bodies from 64 KiB on are copied by the kernel
    load({{3, kT, 0, std::string(size, 'b')}});
    return run_with_file_size_limit(1000, [&](Failure *e) { return all_steps(e); });
  };
  auto no_user = [this](uint64_t spilling) {
    run.spill.spilling = spilling;
    return run_to_end([&](Failure *e) { return write_vortan_index_file(run, e); });
  };
  const std::string no_user_found = "-1write_vortan_index_file:No user found in the list\n\n";
  const struct {
    std::function<Outcome(uint64_t)> fail;
    uint64_t n;  // given to fail
    std::string outcome;
    const char *name;  // of a file, and what it keeps
    std::string kept;
  } cases[] = {
      {[this](uint64_t) {
         write_text(dir + "/vt_req_0", "theirs");
         return run_to_end([&](Failure *e) { return init_vvm_data(run, e); });
       },
       0, "-1open: File exists\n", "vt_req_0", "theirs"},
      {[this](uint64_t) {
         EXPECT_TRUE(init_vvm_data(run, &err));
         int &fd = run.workers.vvm_list[0].vt_req_file_fd;
         EXPECT_EQ(close(fd), 0);
         fd = 999;  // a number no file holds, where the one just freed might be taken again
         Outcome o = run_to_end([&](Failure *e) { return close_vvm_files(run, e); });
         EXPECT_EQ(fd, -1);
         return o;
       },
       0, "-1close_vvm_files:Error in writing request file <DIR>/vt_req_0: Bad file descriptor\n",
       nullptr, ""},
      {[this](uint64_t) {
         load({{3, kT, 0, "a"}, {4, kT + 1, 0, "b"}});
         testing::internal::CaptureStdout();
         EXPECT_TRUE(init_vvm_data(run, &err) && sort_seq_array(run, 2, &err));
         sort_seq_data_by_time(run, 2);
         testing::internal::GetCapturedStdout();
         run.records.seq_data_arr[1].parent_seq = 2;
         return run_to_end([&](Failure *e) { return plan_request_entries(run, nullptr, e); });
       },
       0, "-1process_sequence_data_new:Session key 2 of request 1 is not below 2\n", nullptr, ""},
      {body_size, 10, sendfile + "does ret 5 request_size 10 offset(in) 26 offset(out) 31\n",
       "vt_req_0", svc_head(0) + "Content-Length: 10\r\n\r\nbody\n"},
      {body_size, 3000000000,
       sendfile + "does ret 5 request_size 3000000000 offset(in) 26 offset(out) 31\n", "vt_req_0",
       svc_head(0) + "Content-Length: 3000000000\r\n\r\nbody\n"},
      {no_user, 0, no_user_found, "vt_index_1", kHeader},
      {no_user, 1, no_user_found, "vt_index_1", kHeader},
      {[this](uint64_t) {
         run.options.do_parameterization = 1;  // the place is the offset + 38 + 21 (its head)
         load({{5, kT, 0, "12345", UINT32_MAX - 58, 13}});
         return steps();
       },
       0,
       "-1add_request_new:Creation timestamp offset 4294967296 in the entry is above 4294967295\n",
       nullptr, ""},
      {full_disk, 5000, full, nullptr, ""},
      {full_disk, 100000, full, nullptr, ""},
      {[this](uint64_t) {
         load({{5, kT, 0, "12345"}, {6, kT + 1, 0, "x"}});
         run_steps();
         return run_with_file_size_limit(
             120, [&](Failure *e) { return write_vortan_index_file(run, e); });
       },
       0,
       "-1write_vortan_index_file:Error in writing in file <DIR>/vt_index_0. Error File too "
       "large\n",
       nullptr, ""},
  };
  for (const auto &c : cases) {
    set_services(1);
    load({{3, kT, 0, "body"}});
    std::string got = c.fail(c.n).text();
    if (size_t at = got.find(dir); at != std::string::npos) got.replace(at, dir.size(), "<DIR>");
    EXPECT_EQ(got, c.outcome);
    EXPECT_EQ(c.name ? file(c.name) : "", c.kept) << c.outcome;
    reset();
  }
}

// Creation timestamps with -p only, their place up to all of 32 bits; an idle worker's header.
TEST_F(PackageFiles, TimestampGroupsWithPAndIdleWorker) {
  for (int p : {1, 0}) {
    set_services(1);
    run.workers.num_vvm = 3;
    run.options.do_parameterization = p;
    std::string body = std::string(40, 'b') + "2026-12-04T16" + "tail";
    load({{5, kT, 0, "12345"}, {5, kT + 1, 0, body, UINT32_MAX - 60, 13}, {6, kT + 2, 0, "x"}});
    run_steps();
    ASSERT_TRUE(write_vortan_index_file(run, &err));
    // Head 38 + "Content-Length: 57\r\n\r\n" (22): the place is 60 past the offset in the body.
    EXPECT_EQ(file("vt_index_0"), kHeader + "000000005,vt_req_0,0,0,0,65,1,0,65,118" +
                                      (p ? "|1:4294967295:13\n" : "\n"));
    EXPECT_EQ(file("vt_index_1"), kHeader + "000000006,vt_req_1,2,0,0,61\n");
    EXPECT_EQ(file("vt_index_2"), kHeader);
    reset();
  }
}

// Read back, the manifest agrees with the files; it is made new and written whole.
TEST_F(PackageFiles, ReadsBackAndMatchesTheFiles) {
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
TEST_F(PackageFiles, InputSelectionParts) {
  const std::pair<const char *, const char *> cases[] = {
      {"INPUT_DIR|/logs", "\"base\": \"/logs\", \"days\": null, \"files\": null"},
      {"INPUT_DIR|/logs|", "\"base\": \"/logs\", \"days\": null, \"files\": null"},
      {"INPUT_DIR|/logs||SOAP.log1-SOAP.log3",
       "\"base\": \"/logs\", \"days\": null, \"files\": \"SOAP.log1-SOAP.log3\""},
      {"INPUT_DIR|/logs|20261201|", "\"base\": \"/logs\", \"days\": \"20261201\", \"files\": null"},
      {"INPUT_DIR|/logs|20261201,20261202|SOAP.log.1",
       "\"base\": \"/logs\", \"days\": \"20261201,20261202\", \"files\": \"SOAP.log.1\""},
  };
  for (const auto &[value, parts] : cases) {
    snprintf(run.config.input_dir, kTextBufSize, "%s", value);
    note_manifest_sources(run, "x.conf");
    std::string text = format_manifest(run, 0);
    EXPECT_NE(text.find(parts), std::string::npos) << value << "\n" << text;
  }
}

}  // namespace

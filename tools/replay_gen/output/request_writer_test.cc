#include "tools/replay_gen/output/request_writer.h"

#include <fcntl.h>

#include "base/core/failing_alloc_test_support.h"
#include "base/core/failing_io_test_support.h"
#include "base/core/failing_thread_test_support.h"
#include "tools/replay_gen/output/package_test_fixture.h"

namespace {

class RequestWriter : public PackageTest {
 protected:
  // Writes the request files again from the plan of the last run_steps.
  bool rewrite(int threads, WriterSettings settings, Failure *e) {
    std::vector<uint8_t> workers;
    for (uint64_t i = 0; i < run.counters.g_valid_msgcount; i++)
      workers.push_back(
          run.records.seq_data_arr[run.records.seq_data_arr[i].parent_seq].user_node->vvm_id);
    for (int w = 0; w < run.workers.num_vvm; w++) {
      EXPECT_EQ(ftruncate(run.workers.vvm_list[w].vt_req_file_fd, 0), 0);
      lseek(run.workers.vvm_list[w].vt_req_file_fd, 0, SEEK_SET);
    }
    return write_request_files(run, workers.data(), workers.size(), threads, settings, e);
  }
  Outcome rewrite_to_end(int threads, WriterSettings settings) {
    return run_to_end([&](Failure *e) { return rewrite(threads, settings, e); });
  }
  EntrySink sink(int fd, int w, RequestStage *stage) {
    EntrySink out{};
    out.run = &run, out.fd = fd, out.vvm_id = w, out.stage = stage;
    vtlb_digest_init(&out.digest);
    return out;
  }
  std::vector<std::string> files() {
    std::vector<std::string> out;
    for (int w = 0; w < run.workers.num_vvm; w++)
      out.push_back(file("vt_req_" + std::to_string(w)));
    return out;
  }
};

// Any threads, buffers, copies and short reads: the same files, each digest that of its file.
TEST_F(RequestWriter, SameBytesWithAnyThreadsBuffersAndCopies) {
  set_services(2);
  run.config.req_top_line = strdup((std::string(300 * 1024, 't') + "\n").c_str());
  run.config.req_top_line_len = 300 * 1024 + 1;
  run.workers.num_vvm = 3;
  std::vector<TestRecord> recs;
  for (int i = 0; i < 40; i++) {
    size_t size = i % 7 == 0 ? (1 << 20) + 1000 * i : 50 + i * 13;
    std::string body(size, ' ');
    for (size_t j = 0; j < size; j++) body[j] = static_cast<char>('a' + (j * 7 + j / 26 + i) % 26);
    recs.push_back(
        {i % 9, kT + static_cast<uint64_t>(i % 11) * 1000, static_cast<int16_t>(i % 2), body});
  }
  load(recs);
  run_steps();
  std::vector<std::string> first = files();
  vt_fail_pread_of("/input.log", 0, 1 << 30);
  for (int threads : {1, 2, 3, 5})
    for (size_t buffer : {size_t{997}, size_t{1 << 20}})
      for (uint64_t kernel_from :
           {uint64_t{0}, uint64_t{100}, uint64_t{700 * 1024}, ~uint64_t{0}}) {
        EXPECT_TRUE(rewrite(threads, {buffer, kernel_from}, &err));
        EXPECT_EQ(files(), first) << threads << " threads, buffer " << buffer
                                  << ", kernel copies from " << kernel_from;
        for (int w = 0; w < run.workers.num_vvm; w++) {
          std::string hex, why, name = dir + "/vt_req_" + std::to_string(w);
          uint64_t size = 0;
          EXPECT_TRUE(vtlb_digest_file(name.c_str(), &hex, &size, &why)) << why;
          EXPECT_EQ(vtlb_digest_hex(run.manifest.request_digest[w]), hex) << w;
        }
      }
  EXPECT_GT(vt_failed_preads(), 0);
  vt_fail_pread_of("", 0, 0);
}

TEST(RequestWriterThreads, OneAProcessorUpToTheWorkers) {
  const std::tuple<int, int, int> cases[] = {{0, 4, 1}, {1, 4, 1}, {2, 4, 2}, {8, 3, 3}, {4, 4, 4}};
  for (auto [cpus, workers, threads] : cases)
    EXPECT_EQ(request_writer_threads(cpus, workers), threads) << cpus << " " << workers;
}

// A failing entry, thread, buffer or node ends the run, the files holding whole entries only.
TEST_F(RequestWriter, FailuresEndTheRun) {
  set_services(1);
  load({{4, kT, 0, "first"}, {4, kT + 1, 0, "second"}, {5, kT + 2, 0, "other"}});
  run_steps();
  std::vector<std::string> whole = files();
  vt_fail_thread_create_after(1);
  EXPECT_EQ(rewrite_to_end(2, {1 << 20, 0}).text(),
            "-1process_sequence_data_new:Failed to create Request Writer Thread[1]\n");
  vt_fail_thread_create_after(-1);
  vt_fail_thread_join_after(1);
  EXPECT_EQ(rewrite_to_end(2, {1 << 20, 0}).text(),
            "-1process_sequence_data_new:Request Writer Thread[1] Failed\n");
  vt_fail_thread_join_after(-1);
  run.records.seq_data_arr[1].req_file_fp = nullptr;  // time order: the user's second entry
  for (uint64_t kernel_from : {uint64_t{0}, ~uint64_t{0}}) {
    EXPECT_EQ(rewrite_to_end(2, {1 << 20, kernel_from}).text(),
              "-1add_request_new:error in fileno(). seq_file_fp (nil) Bad file descriptor\n");
    EXPECT_EQ(file("vt_req_0"), entry(0, "first")) << kernel_from;
    std::string other = file("vt_req_1");
    EXPECT_TRUE(other.empty() || other == whole[1]) << other;
  }
  if (!vt_alloc_failures_supported()) GTEST_SKIP() << "the sanitizers keep their own allocator";
  vt_fail_alloc_of(12347);
  EXPECT_EQ(rewrite_to_end(2, {12347, 0}).text(),
            "-1add_request_new:Out of Memory: output buffer (size = 12347) for index -1\n");
  UserNode *user = nullptr;
  Outcome o = run_to_end([&](Failure *e) {
    vt_fail_alloc_of(sizeof(UserNode));
    return add_user_new(run, run.records.seq_data_arr[0], &user, e);
  });
  vt_fail_alloc_of(0);
  EXPECT_EQ(o.text(), "-1add_user_new:Out of Memory: node memory allocation (size = " +
                          std::to_string(sizeof(UserNode)) + ") for index -1\n");
}

// A last newline that cannot be written, or entries short of what the index expects, fail.
TEST_F(RequestWriter, AFileThatCannotBeFinishedFailsTheRun) {
  run.workers.num_vvm = 4;
  ASSERT_TRUE(init_vvm_data(run, &err));
  run.workers.vvm_list[3].offset = 12;
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  auto finish = [&](int fd, bool newline_pending, uint64_t written) {
    RequestStage stage;
    stage_open(&stage, 64, &err);
    EntrySink out = sink(fd, 3, &stage);
    out.newline_pending = newline_pending, out.written = written;
    std::string outcome = run_to_end([&](Failure *e) { return finish_entries(&out, e); }).text();
    stage_close(&stage);
    return outcome;
  };
  EXPECT_EQ(finish(full, true, 11),
            "-1add_request_new:Unable to write request in index_3: No space left on device\n");
  EXPECT_EQ(finish(run.workers.vvm_list[3].vt_req_file_fd, false, 10),
            "-1process_sequence_data_new:vt_req_3 holds 10 bytes of entries where its index "
            "expects 12\n");
  close(full);
}

// Through a 50-byte buffer, bodies of kernel_copy_from bytes on are copied by the kernel.
TEST_F(RequestWriter, KernelCopiesFromTheThresholdOn) {
  set_services(1);
  run.workers.num_vvm = 1;
  std::vector<std::string> bodies = {"abcd", "abcdefghi", "abcdefghij", "x", std::string(120, 'L')};
  std::vector<TestRecord> recs;
  std::string expected;
  for (size_t i = 0; i < bodies.size(); i++) {
    recs.push_back({1, kT + i, 0, bodies[i]});
    expected += entry(0, bodies[i]);
  }
  load(recs);
  using Case = std::pair<uint64_t, uint64_t>;  // copied from, bodies copied
  for (auto [from, copies] : {Case{9, 3}, Case{10, 2}, Case{11, 1}, Case{121, 0}}) {
    SCOPED_TRACE(from);
    ASSERT_TRUE(init_vvm_data(run, &err));
    RequestStage stage;
    stage_open(&stage, 50, &err);
    EntrySink out = sink(run.workers.vvm_list[0].vt_req_file_fd, 0, &stage);
    out.kernel_copy_from = from;
    for (uint64_t i = 0; i < recs.size(); i++)
      ASSERT_TRUE(write_entry(&out, run.records.seq_data_arr[i], &err));
    run.workers.vvm_list[0].offset = static_cast<off_t>(expected.size());
    ASSERT_TRUE(finish_entries(&out, &err));
    stage_close(&stage);
    EXPECT_EQ(out.kernel_copies, copies);
    EXPECT_EQ(file("vt_req_0"), expected);
    close(run.workers.vvm_list[0].vt_req_file_fd);
    unlink((dir + "/vt_req_0").c_str());  // request files are made new
  }
}

}  // namespace

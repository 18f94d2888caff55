#include "tools/replay_gen/spill/run_sort.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/open_descriptors_test_support.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/spill/spill_dir.h"
#include "tools/replay_gen/spill/spill_file.h"
#include "tools/replay_gen/test_support.h"

namespace {

struct Rec {
  uint32_t key;
  uint32_t place;  // breaks ties: the order is total
  bool operator==(const Rec &) const = default;
};

struct RecLess {
  bool operator()(const Rec &a, const Rec &b) const {
    return a.key != b.key ? a.key < b.key : a.place < b.place;
  }
};

class RunSortTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = make_temp_dir();
    snprintf(run.config.replay_dir, sizeof run.config.replay_dir, "%s", dir.c_str());
  }
  void TearDown() override {
    spill_dir_abandon(run);
    rmdir(dir.c_str());
  }
  std::vector<std::string> entries() {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
      names.push_back(e.path().filename());
    return names;
  }
  std::string dir;
  RunState run;
  Failure err;
};

// Runs of any sizes merged with any fan-in: std::sort's order, in the passes the fan-in asks.
TEST_F(RunSortTest, AnyRunsMergeIntoTheOneOrder) {
  uint64_t x = 88172645463325252u;
  for (size_t fan_in : {2, 3, 7, 64}) {
    for (size_t run_size : {1, 5, 97, 1000}) {
      long descriptors = vt_open_descriptors();
      RunSort<Rec> s = named_run_sort<Rec>("test");
      std::vector<Rec> all, chunk;
      for (uint32_t i = 0; i < 1000; i++) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        all.push_back(Rec{static_cast<uint32_t>(x % 13), i});
      }
      for (size_t i = 0; i < all.size(); i += run_size) {
        chunk.assign(all.begin() + i, all.begin() + std::min(all.size(), i + run_size));
        ASSERT_TRUE(sort_into_run(run, &s, chunk.data(), chunk.size(), RecLess{}, &err));
      }
      sort_into_run(run, &s, chunk.data(), 0, RecLess{}, &err);  // an empty run adds nothing
      size_t runs = s.runs.size();
      MergeShape shape{fan_in, 3};
      ASSERT_TRUE(reduce_runs(run, &s, shape, RecLess{}, &err));
      EXPECT_LE(s.runs.size(), fan_in);
      int passes = 0;
      for (size_t r = runs; r > fan_in; r = (r + fan_in - 1) / fan_in) passes++;
      EXPECT_EQ(s.passes, passes) << fan_in << " " << run_size;
      RunMerge<Rec, RecLess> m;
      ASSERT_TRUE(
          merge_begin(&m, s.runs.data(), s.runs.size(), shape.block_records, RecLess{}, &err));
      std::vector<Rec> merged;
      while (const Rec *top = merge_top(m)) {
        merged.push_back(*top);
        ASSERT_TRUE(merge_pop(&m, &err));
      }
      merge_end(&m);
      std::sort(all.begin(), all.end(), RecLess{});
      ASSERT_TRUE(merged == all) << "fan-in " << fan_in << ", runs of " << run_size;
      run_sort_release(&s);
      EXPECT_EQ(s.passes, passes);  // the count outlives the files
      // Each pass closed the file it read, freeing its space.
      EXPECT_EQ(vt_open_descriptors(), descriptors) << fan_in << " " << run_size;
    }
  }
  // Only the spill directory is left until the run removes it.
  std::vector<std::string> left = entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].substr(0, 9), "vt_spill.");
  ASSERT_TRUE(spill_dir_remove(run, &err));
  EXPECT_TRUE(entries().empty());
  // An interrupt now leaves alone what is made since at that name.
  std::string again = dir + "/" + left[0];
  ASSERT_EQ(mkdir(again.c_str(), 0700), 0);
  remove_spill_leftovers();
  EXPECT_EQ(entries(), left);
  rmdir(again.c_str());
  // One that holds something else is left, and the run fails naming it.
  std::string spill = spill_dir_make(run, &err), stray = spill + "/stray";
  ASSERT_EQ(mkdir(stray.c_str(), 0700), 0);
  std::string o = run_to_end([&](Failure *e) { return spill_dir_remove(run, e); }).text();
  EXPECT_TRUE(o.starts_with("-1spill_dir_remove:Unable to remove spill directory " + spill +
                            ": Directory not empty"))
      << o;
  rmdir(stray.c_str());
  rmdir(spill.c_str());
}

TEST_F(RunSortTest, MergeShapeStaysWithinItsShare) {
  struct Case {
    uint64_t share;
    size_t rec_size;
    size_t fan_in, block_records;
  } cases[] = {
      {4096, 56, 3, 18},             // the least: blocks of 1 KiB, fan-in 3
      {100, 56, 2, 18},              // below it: still two runs at once
      {65 * 1024, 64, 64, 16},       // 64 runs of 1 KiB blocks
      {1ull << 30, 64, 64, 4096},    // blocks stop at 256 KiB
      {10 << 20, 64, 64, 2520},      // 161,319 bytes a block
      {1 << 20, 4096 * 1024, 2, 1},  // a record larger than the blocks
  };
  for (const Case &c : cases) {
    MergeShape shape = merge_shape(c.share, c.rec_size);
    EXPECT_EQ(shape.fan_in, c.fan_in) << c.share;
    EXPECT_EQ(shape.block_records, c.block_records) << c.share;
    if (c.share >= 3 * kMinBlockBytes && c.rec_size <= kMinBlockBytes) {
      EXPECT_LE((shape.fan_in + 1) * shape.block_records * c.rec_size, c.share) << c.share;
    }
  }
}

// A spill file that takes no more (the file size limit for a full disk) fails, naming it.
TEST_F(RunSortTest, FullDiskFailsNamingTheFile) {
  RunSort<Rec> s = named_run_sort<Rec>("full");
  std::vector<Rec> recs(4096, Rec{1, 2});
  Outcome o = run_with_file_size_limit(8192, [&](Failure *e) {
    return sort_into_run(run, &s, recs.data(), recs.size(), RecLess{}, e);
  });
  run_sort_release(&s);
  spill_dir_abandon(run);
  EXPECT_TRUE(o.text().starts_with("-1write_spill_file:Error in writing spill file " + dir +
                                   "/vt_spill.") &&
              o.err.ends_with("/full.0: File too large\n"))
      << o.err;
  EXPECT_TRUE(entries().empty());
}

// A read gets its bytes, or fails when they are not all there, whatever errno was left.
TEST_F(RunSortTest, ReadsGetTheirBytesOrFail) {
  SpillFile *f = spill_file_create(run, "short", &err);
  ASSERT_TRUE(f && spill_file_write(f, 0, "abcdefgh", 8, &err));
  char back[9] = {};
  errno = EINTR;
  ASSERT_TRUE(spill_file_read(f, 2, back, 6, &err));
  EXPECT_STREQ(back, "cdefgh");
  errno = EINTR;
  Outcome o = run_to_end([&](Failure *e) { return spill_file_read(f, 4, back, 8, e); });
  EXPECT_EQ(o.err,
            "read_spill_file:Error in reading spill file " + f->path + ": the file ends early\n");
  spill_file_close(f);
}

// A dry run spills in the temporary directory, never in a replay directory nor in "/".
TEST(SpillDir, DryRunPlaceIsTheTemporaryDirectory) {
  const std::pair<const char *, std::string> cases[] = {
      {"/var/tmp/", "/var/tmp"}, {"/var/tmp", "/var/tmp"},    {"/", "/tmp"},     {"//", "/tmp"},
      {"var/tmp", "/tmp"},       {"/vt_no_such_dir", "/tmp"}, {nullptr, "/tmp"}, {"", "/tmp"},
  };
  for (const auto &[tmpdir, want] : cases)
    EXPECT_EQ(dry_run_spill_base(tmpdir, 100), want) << (tmpdir ? tmpdir : "(unset)");
  EXPECT_EQ(dry_run_spill_base("/var/tmp", 7), "/tmp");  // no room for the name
}

}  // namespace

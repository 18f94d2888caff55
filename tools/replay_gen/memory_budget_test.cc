#include "tools/replay_gen/memory_budget.h"

#include <gtest/gtest.h>

#include <map>

#include "base/core/open_descriptors_test_support.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/test_files.h"

namespace {

// Sizes in bytes or K, M, G, T, up to 64 bits; anything else leaves the value alone.
TEST(MemoryBudget, SizesAndTheirUnits) {
  const std::pair<const char *, uint64_t> taken[] = {{"0", 0},
                                                     {"4K", 4096},
                                                     {"512M", 512ull << 20},
                                                     {"8G", 8ull << 30},
                                                     {"3t", 3ull << 40},
                                                     {"16777215T", 16777215ull << 40},
                                                     {"18446744073709551615", UINT64_MAX}};
  for (const auto &[text, want] : taken) {
    uint64_t bytes = 7;
    EXPECT_TRUE(parse_memory_size(text, &bytes)) << text;
    EXPECT_EQ(bytes, want) << text;
  }
  for (const char *text : {"18446744073709551616", "16777216T", "", "K", "-1", "+1", " 1", "1 ",
                           "8GB", "1.5G", "1P"}) {
    uint64_t bytes = 7;
    EXPECT_FALSE(parse_memory_size(text, &bytes)) << text;
    EXPECT_EQ(bytes, 7u) << text;
  }
}

TEST(MemoryBudget, SizesAsText) {
  char buf[32];
  const std::pair<uint64_t, const char *> cases[] = {
      {0, "0 bytes"},          {1023, "1023 bytes"},    {1024, "1.0 KiB"},       {1536, "1.5 KiB"},
      {45u << 20, "45.0 MiB"}, {3ull << 30, "3.0 GiB"}, {UINT64_MAX, "16.0 EiB"}};
  for (const auto &[bytes, text] : cases) {
    format_size(bytes, buf, sizeof buf);
    EXPECT_STREQ(buf, text) << bytes;
  }
}

// MEMORY_LIMIT wins; without it, half of what the system has.
TEST(MemoryBudget, ConfiguredOrHalfOfWhatIsAvailable) {
  RunState run;
  EXPECT_EQ(run.spill.budget, UINT64_MAX);  // none before it is chosen: nothing spills
  run.config.memory_limit = 1 << 20;
  choose_memory_budget(run);
  EXPECT_EQ(run.spill.budget, 1u << 20);
  EXPECT_EQ(requests_within_budget(run), 5242u);  // at 200 bytes a request, as the README says
  run.config.memory_limit = 0;
  uint64_t avail = available_memory_bytes();
  ASSERT_GT(avail, 0u);  // every Linux since 3.14 tells MemAvailable
  choose_memory_budget(run);
  // What is available moves between the two reads; half of it, roughly.
  EXPECT_GT(run.spill.budget, avail / 4);
  EXPECT_LT(run.spill.budget, avail);
}

// The tightest group up to the root counts; "max" or no file sets no limit.
TEST(MemoryBudget, RoomLeftByTheControlGroups) {
  const std::string dir = make_temp_dir();
  const std::string self = dir + "/self", root = dir + "/root";
  // The process's own groups, the files under root, and the room they leave.
  const std::tuple<std::string, std::map<std::string, std::string>, uint64_t> cases[] = {
      {"1:name=x:/elsewhere\n0::/a/b/c\n",
       {{"a/memory.max", "1000\n"},
        {"a/memory.current", "300\n"},
        {"a/b/memory.max", "max\n"},
        {"a/b/c/memory.max", "5000\n"},
        {"a/b/c/memory.current", "4900\n"}},
       100},
      {"0::/a/b/c\n",
       {{"a/memory.max", "1000\n"}, {"a/memory.current", "300\n"}, {"a/b/c/memory.max", "5000"}},
       700},
      {"0::/a/b\n",
       {{"memory.max", "900"}, {"a/b/memory.max", "4000"}, {"a/b/memory.current", "4100"}},
       0},
      {"0::/a\n", {{"memory.max", "900"}, {"memory.current", "100"}, {"a/memory.max", "max"}}, 800},
      {"0::/\n", {{"memory.max", "900"}}, 900},
      {"0::/\n", {{"a/memory.max", "900"}}, UINT64_MAX},
      {"1:memory:/a\n", {{"memory.max", "600"}, {"a/memory.max", "10"}}, 600},
      {"\n0::/a\n", {{"a/memory.max", "50"}}, 50},  // an empty line ends nothing
      {"0::/a\n", {{"a/memory.max", ""}, {"a/memory.current", "1"}}, UINT64_MAX},
      // A line of any length is one line.
      {"1:x:/" + std::string(4090, 'x') + "0::/a\n0::/a/b/c", {{"a/b/c/memory.max", "77"}}, 77},
  };
  long descriptors = vt_open_descriptors();
  for (const auto &[groups, files, room] : cases) {
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root + "/a/b/c");
    write_text(self, groups);
    for (const auto &[name, text] : files) write_text(root + "/" + name, text);
    EXPECT_EQ(cgroup_room(self.c_str(), root), room) << groups;
  }
  EXPECT_EQ(cgroup_room((dir + "/none").c_str(), root), UINT64_MAX);
  EXPECT_EQ(vt_open_descriptors(), descriptors);
  remove_dir(dir);
}

}  // namespace

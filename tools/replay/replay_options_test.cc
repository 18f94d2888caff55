#include "tools/replay/replay_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

ReplayCommand parse(std::vector<const char *> args, ReplayOptions *o, std::string *error) {
  args.insert(args.begin(), "vt_replay");
  return parse_replay_options(static_cast<int>(args.size()), const_cast<char **>(args.data()), o,
                              error);
}

TEST(ReplayOptions, ReadsEveryOption) {
  ReplayOptions o;
  std::string error;
  ASSERT_EQ(
      parse({"pkg", "--target", "127.0.0.1:8080", "--workers=3,0-1", "--speed", "2.5", "--duration",
             "30", "--connections-per-user", "4", "--timeout=250", "--json", "r.json", "--quiet"},
            &o, &error),
      ReplayCommand::kRun)
      << error;
  EXPECT_EQ(o.dir, "pkg");
  EXPECT_EQ(o.host, "127.0.0.1");
  EXPECT_EQ(o.port, "8080");
  EXPECT_EQ(o.workers, (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(o.speed, 2.5);
  EXPECT_EQ(o.duration_s, 30);
  EXPECT_EQ(o.connections_per_user, 4);
  EXPECT_EQ(o.timeout_ms, 250);
  EXPECT_EQ(o.json_path, "r.json");
  EXPECT_TRUE(o.quiet);
  ReplayOptions v6;
  ASSERT_EQ(parse({"--target", "[::1]:99", "pkg"}, &v6, &error), ReplayCommand::kRun);
  EXPECT_EQ(v6.host, "::1");
  ReplayOptions fresh;
  EXPECT_EQ(parse({"pkg", "--help"}, &fresh, &error), ReplayCommand::kHelp);
  EXPECT_EQ(parse({"--version"}, &fresh, &error), ReplayCommand::kVersion);
}

TEST(ReplayOptions, RefusesBadValuesNamingTheOption) {
  const std::vector<std::vector<const char *>> cases = {
      {"--target", "h:1"},
      {"pkg", "--target", "hostonly"},
      {"pkg", "--target", "h:0"},
      {"pkg", "--target", "h:65536"},
      {"pkg", "--target", "::1:80"},
      {"pkg", "--target", "h:1", "--speed", "0"},
      {"pkg", "--target", "h:1", "--speed", "fast"},
      {"pkg", "--target", "h:1", "--workers", "2-1"},
      {"pkg", "--target", "h:1", "--workers", "256"},
      {"pkg", "--target", "h:1", "--workers", "1,,2"},
      {"pkg", "--target", "h:1", "--connections-per-user", "0"},
      {"pkg", "--target", "h:1", "--timeout", "-5"},
      {"pkg", "--target", "h:1", "--duration", "0"},
      {"pkg", "--target", "h:1", "--threads", "0"},
      {"pkg", "--target", "h:1", "--timeout"},
      {"pkg", "--target", "h:1", "--bogus"},
      {"pkg", "other", "--target", "h:1"},
  };
  for (const auto &c : cases) {
    ReplayOptions o;
    std::string error;
    EXPECT_EQ(parse(c, &o, &error), ReplayCommand::kUsageError) << c.back();
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace

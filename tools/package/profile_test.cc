#include "tools/package/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "base/core/golden_file_test_support.h"
#include "base/package/package_format.h"
#include "tools/package/cli.h"
#include "tools/package/package_test_support.h"
#include "tools/package/profile_report.h"

namespace {

struct Request {
  uint64_t time;
  int page;
  std::string body;
};
struct User {
  int worker;
  uint64_t id;
  std::vector<Request> requests;
};

// A package of the users, in their order; page 1 has a SOAPAction head line more.
void write_package(const TempDir &dir, int workers, const std::vector<User> &users) {
  std::vector<std::string> req(workers), index(workers, kIndexHeader);
  for (const User &u : users) {
    std::string line;
    start_index_line(u.id, u.worker, &line);
    for (const Request &r : u.requests) {
      std::string entry = "POST /p" + std::to_string(r.page) + " HTTP/1.0\r\nHost: h\r\n" +
                          (r.page == 1 ? "SOAPAction: \"a\"\r\n" : "") +
                          "Content-Length: " + std::to_string(r.body.size()) + "\r\n\r\n" + r.body +
                          "\n";
      append_index_group({r.time, r.page, req[u.worker].size(), entry.size()}, &line);
      req[u.worker] += entry;
    }
    index[u.worker] += line + "\n";
  }
  for (int w = 0; w < workers; w++) {
    dir.write(request_file_name(w), req[w]);
    dir.write(index_file_name(w), index[w]);
  }
}

// Figures worked out by hand (error.log.old no log of the run); read twice, none counted twice.
TEST(HandPackage, FiguresMatchTheHandComputedOnes) {
  TempDir d;
  write_package(
      d, 2,
      {{0, 1, {{0, 0, "aaaaaaaaaa"}, {500, 0, std::string(100, 'b')}, {2500, 1, "123456789"}}},
       {1, 2, {{1000, 1, std::string(1000, 'c')}, {1200, 0, "12345"}}},
       {0, 3, {{1200, 1, std::string(20, 'd')}, {3000, 0, "1234567"}}},
       {1, 4, {{61000, 2, std::string(50, 'e')}}}});
  const std::string head = "#|Error-Code|Error-Message|Request-File|Line-Number\n";
  d.write("error.log.0",
          head + "1|101|x|/l/SOAP.log.1|3\n2|105|y|/l/SOAP.log.1|9\n3|101|x|/l/SOAP.log.2|4\n");
  d.write("error.log.1", head + "1|101|x|/l/SOAP.log.3|3\n");
  d.write("error.log.old", "1|104|not one of the logs|x|1\n");
  Profile p;
  std::string error;
  ASSERT_TRUE(read_package_profile(d.path, 1000, false, &p, &error)) << error;
  Profile again = p;
  ASSERT_TRUE(read_package_profile(d.path, 1000, false, &again, &error)) << error;
  const std::string text = format_profile_text(p, "profile: x");
  EXPECT_EQ(format_profile_text(again, "profile: x"), text);
  EXPECT_DOUBLE_EQ(p.rps_mean, 8.0 / 62.0);
  expect_as_kept(text, std::string(VT_PACKAGE_TESTDATA) + "/hand_profile.txt");
}

// Creation timestamps read past; what profile cannot count refused (line faults: IndexFormat).
TEST(PackageProfile, ReadsPastTimestampsAndRefusesWhatItCannotRead) {
  struct Case {
    const char *index_line;
    const char *message;  // "": read as the package written
  } cases[] = {
      // Entries of 54 and 75 bytes: "body" on page 0, "body two" on page 1.
      {"000000001,vt_req_0,0,0,0,54|C:60:24,10,1,54,75|N:70:3", ""},
      {"000000001,vt_req_0,0,70000,0,10", "vt_index_0 line 2 group 1: page id 70000 out of range"},
      {"000000001,vt_req_0,0,0,0,54,0,0,54,10",
       "vt_index_0 line 2 group 2: an entry of 10 bytes does not fit the head of page 0"},
  };
  TempDir d;
  write_package(d, 1, {{0, 1, {{0, 0, "body"}, {10, 1, "body two"}}}});
  Profile plain;
  std::string error;
  ASSERT_TRUE(read_package_profile(d.path, 1000, false, &plain, &error)) << error;
  for (const Case &c : cases) {
    d.write("vt_index_0", kIndexHeader + std::string(c.index_line) + "\n");
    Profile p;
    error.clear();
    EXPECT_EQ(read_package_profile(d.path, 1000, false, &p, &error), !c.message[0]) << c.index_line;
    if (c.message[0]) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
    } else {
      EXPECT_EQ(format_profile_json_members(p), format_profile_json_members(plain)) << error;
    }
  }
}

// A body's size from its entry's with 104 fixed bytes: 115 fits none; nothing wraps.
TEST(PackageProfile, BodySizeFromEntrySize) {
  struct Case {
    uint64_t entry;
    bool fits;
    uint64_t body;
  } cases[] = {
      {105, true, 0},     {113, true, 8},       {114, true, 9},  {115, false, 0}, {116, true, 10},
      {1108, true, 1000}, {11166, true, 11057}, {104, false, 0}, {103, false, 0}, {0, false, 0},
  };
  for (const Case &c : cases) {
    uint64_t body = 77;
    EXPECT_EQ(body_size_of_entry(c.entry, 104, &body), c.fits) << c.entry;
    if (c.fits) {
      EXPECT_EQ(body, c.body) << c.entry;
    }
  }
}

// The figures of a builder's profile, its chart columns included.
std::string figures(ProfileBuilder *b, Profile *p) {
  profile_finish(b, p);
  std::string out = "{" + format_profile_json_members(*p) + "}\nfrom " +
                    std::to_string(p->first_ms) + " to " + std::to_string(p->last_ms) +
                    ", the peak at " + std::to_string(p->peak_bucket_start_ms) + "; " +
                    std::to_string(p->column_ms) + " ms columns, peak";
  for (uint64_t n : p->column_peak) out += " " + std::to_string(n);
  out += "; active";
  for (uint64_t n : p->column_active) out += " " + std::to_string(n);
  out += "; requests";
  for (size_t c = 0; c < p->column_peak.size(); c++) {
    uint64_t sum = 0;
    for (const std::vector<uint64_t> &w : p->worker_columns) sum += w[c];
    out += " " + std::to_string(sum);
  }
  return out + "\n";
}

// As kept: body ranks, users over columns, buckets past the table, none, three days in columns.
TEST(PackageProfile, FiguresAtTheirEdgesAreAsKept) {
  const uint64_t edge = kDenseBuckets * 1000;  // the first bucket past the table
  using Request = std::array<uint64_t, 3>;     // time, entry size, body size
  using UserTimes = std::array<uint64_t, 2>;   // first, last
  struct Case {
    int workers;
    std::vector<Request> requests;
    std::vector<UserTimes> users;
  } cases[] = {
      {1, {{0, 50, 0}, {0, 50, 0}, {0, 50, 0}, {0, 70050, 70000}}, {}},
      {1, {{0, 65586, 65536}, {0, 65585, 65535}, {0, 65585, 65535}}, {}},
      {1, {{0, 57, 7}, {0, 51, 1}, {0, 53, 3}, {0, 55, 5}, {0, 59, 9}, {0, 52, 2}}, {}},
      {1,
       {{500, 1, 1}, {10500, 1, 1}, {3100, 1, 1}, {5900, 1, 1}, {8000, 1, 1}},
       {{500, 10500}, {3100, 5900}, {8000, 8000}, {5900, 6100}, {0, 0}, {1, 1}}},
      {1,
       {{5000, 300, 200},
        {5400, 300, 200},
        {edge + 10, 300, 200},
        {edge + 999, 300, 200},
        {edge + 7000, 300, 200},
        {edge + 7001, 300, 200},
        {edge + 7002, 300, 200},
        {uint64_t{1} << 50, 300, 200}},
       {{5000, uint64_t{1} << 50}}},
      {1, {{2000, 1, 1}, {2001, 1, 1}, {edge + 1, 1, 1}, {edge + 2, 1, 1}}, {}},
      {1, {{3000, 1, 1}, {7000, 1, 1}}, {}},
      {2, {}, {}},
  };
  // Each also with the users' times handed over in sorted runs (a dry run that
  // spills): none kept by the builder, the same figures.
  auto sorted_source = [](std::vector<uint64_t> v) {
    std::sort(v.begin(), v.end());
    return [v, i = size_t{0}](uint64_t *t) mutable { return i < v.size() && (*t = v[i++], true); };
  };
  std::string out;
  Profile p;
  for (const Case &c : cases) {
    std::string figures_of[2];
    for (bool sorted : {false, true}) {
      ProfileBuilder b;
      profile_begin(&b, c.workers, 1000);
      std::vector<uint64_t> firsts, lasts;
      for (const UserTimes &u : c.users) firsts.push_back(u[0]), lasts.push_back(u[1]);
      b.user_times_elsewhere = sorted;
      if (sorted) b.sorted_firsts = sorted_source(firsts), b.sorted_lasts = sorted_source(lasts);
      for (const Request &r : c.requests)
        ASSERT_TRUE(profile_add_request(&b, 0, 0, r[0], r[1], r[2]));
      for (const UserTimes &u : c.users) profile_add_user(&b, 0, u[0], u[1]);
      if (c.requests.size() == 8) {
        EXPECT_EQ(std::make_pair(b.bucket_counts.dense.size(), b.bucket_counts.sparse.size()),
                  std::make_pair(size_t{6}, size_t{3}));
      }
      EXPECT_TRUE(!sorted || b.user_first.capacity() == 0);
      figures_of[sorted] = figures(&b, &p);
    }
    EXPECT_EQ(figures_of[1], figures_of[0]);
    out += figures_of[0];
  }
  ProfileBuilder b;
  profile_begin(&b, 3, 1000);
  for (uint64_t t = 0; t < 3 * 86400000ull; t += 7919) {
    int w = static_cast<int>(t / 7919 % 3);
    ASSERT_TRUE(profile_add_request(&b, w, static_cast<int>(t % 5), t, 300, 200));
    profile_add_user(&b, w, t, t + 30000);
  }
  for (int i = 0; i < 5; i++) ASSERT_TRUE(profile_add_request(&b, 0, 0, 86400100 + i, 300, 200));
  out += figures(&b, &p);
  EXPECT_LE(p.column_peak.size(), b.max_columns);
  expect_as_kept(out, std::string(VT_PACKAGE_TESTDATA) + "/profile_edges.txt");
}

TEST(ProfileOptions, BucketSeconds) {  // each text with its milliseconds, 0 where refused
  // clang-format off
  const std::pair<const char *, uint64_t> cases[] = {{"1", 1000}, {"31536000", 31536000000},
      {"000000007", 7000}, {"0", 0}, {"31536001", 0}, {"0000000007", 0}, {"", 0}, {"1.5", 0},
      {"-1", 0}, {" 1", 0}};
  // clang-format on
  for (auto [text, want] : cases) {
    uint64_t ms = 0;
    EXPECT_EQ(parse_bucket_seconds(text, &ms), want != 0) << text;
    EXPECT_EQ(ms, want) << text;
  }
}

// (Imbalance, durations and counts in a report: the kept pages.)
TEST(ProfileReport, NumberFormats) {
  // clang-format off
  const std::pair<std::string, const char *> cases[] = {{format_count(0), "0"},
      {format_count(999), "999"}, {format_count(1234567), "1,234,567"}, {format_rate(2.5), "2.5"},
      {format_rate(1234.56789), "1234.568"}, {format_rate(-0.0), "0"},
      {format_rate(0.000260123), "0.0002601"}, {format_duration(88429877), "24:33:49.877"}};
  // clang-format on
  for (const auto &[got, want] : cases) EXPECT_EQ(got, want);
}

}  // namespace

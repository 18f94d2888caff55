#include "tools/package/profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "base/package/package_format.h"
#include "tools/package/cli.h"
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

// Page 1 carries one head line more than the others, as a service found in
// the logs carries its SOAPAction line.
std::string head_of(int page, size_t body) {
  std::string head = "POST /p" + std::to_string(page) + " HTTP/1.0\r\nHost: h\r\n";
  if (page == 1) head += "SOAPAction: \"a\"\r\n";
  return head + "Content-Length: " + std::to_string(body) + "\r\n\r\n";
}

std::string make_dir() {
  char tmpl[] = "/tmp/vt_profile_test.XXXXXX";
  return mkdtemp(tmpl);
}

void write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Writes a package of `workers` workers holding the users, in their order.
void write_package(const std::string &dir, int workers, const std::vector<User> &users) {
  std::vector<std::string> req(workers), index(workers);
  for (int w = 0; w < workers; w++)
    index[w] =
        "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, "
        "size, ...\n";
  for (const User &u : users) {
    char id[32];
    snprintf(id, sizeof id, "%09lu", static_cast<unsigned long>(u.id));
    std::string line = std::string(id) + ",vt_req_" + std::to_string(u.worker);
    for (const Request &r : u.requests) {
      std::string entry = head_of(r.page, r.body.size()) + r.body + "\n";
      line += "," + std::to_string(r.time) + "," + std::to_string(r.page) + "," +
              std::to_string(req[u.worker].size()) + "," + std::to_string(entry.size());
      req[u.worker] += entry;
    }
    index[u.worker] += line + "\n";
  }
  for (int w = 0; w < workers; w++) {
    write_file(dir + "/vt_req_" + std::to_string(w), req[w]);
    write_file(dir + "/vt_index_" + std::to_string(w), index[w]);
  }
}

// Four users on two workers; the figures below are worked out by hand.
std::vector<User> hand_users() {
  return {
      {0,
       1,
       {{0, 0, std::string(10, 'a')}, {500, 0, std::string(100, 'b')}, {2500, 1, "123456789"}}},
      {1, 2, {{1000, 1, std::string(1000, 'c')}, {1200, 0, "12345"}}},
      // Starts when user 2 ends: both count as active at 1200.
      {0, 3, {{1200, 1, std::string(20, 'd')}, {3000, 0, "1234567"}}},
      {1, 4, {{61000, 2, std::string(50, 'e')}}},
  };
}

struct HandPackage : ::testing::Test {
  std::string dir = make_dir();
  void SetUp() override {
    write_package(dir, 2, hand_users());
    write_file(dir + "/error.log.0",
               "#|Error-Code|Error-Message|Request-File|Line-Number\n"
               "1|101|Invalid format of RequestTimeEx|/l/SOAP.log.1|3\n"
               "2|105|RequestTimeEx is missing|/l/SOAP.log.1|9\n"
               "3|101|Invalid format of RequestTimeEx|/l/SOAP.log.2|4\n");
    write_file(dir + "/error.log.1",
               "#|Error-Code|Error-Message|Request-File|Line-Number\n"
               "1|101|Invalid format of RequestTimeEx|/l/SOAP.log.3|3\n");
    write_file(dir + "/error.log.old", "1|104|not one of the logs|x|1\n");
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }
};

// Every figure, as the text report gives it.
TEST_F(HandPackage, FiguresMatchTheHandComputedOnes) {
  Profile p;
  std::string error;
  ASSERT_TRUE(read_package_profile(dir, 1000, false, &p, &error)) << error;
  // Read again into the same profile: nothing is counted twice.
  Profile again = p;
  ASSERT_TRUE(read_package_profile(dir, 1000, false, &again, &error)) << error;
  const std::string text = format_profile_text(p, "profile: x");
  EXPECT_EQ(format_profile_text(again, "profile: x"), text);
  EXPECT_DOUBLE_EQ(p.rps_mean, 8.0 / 62.0);
  EXPECT_DOUBLE_EQ(p.rpm_mean, 4.0);
  // Entries: 49 bytes of head and newline, the length's digits, the body;
  // page 1 entries 17 bytes more.
  // Buckets: [0,1) 2, [1,2) 3, [2,3) 1, [3,4) 1, [61,62) 1 of 62 buckets.
  // Bodies 5 7 9 10 20 50 100 1000: the median and the 95th percentile are
  // ranks 4 and 8.
  EXPECT_EQ(text,
            "profile: x\n"
            "  workers                  2\n"
            "  users                    4\n"
            "  requests                 8\n"
            "  bytes                    1,660\n"
            "  duration                 0:01:01.000 (61,000 ms)\n"
            "  requests per second      mean 0.129, peak 3 (buckets of 1 s; the peak at "
            "0:00:01.000)\n"
            "  requests per minute      mean 4, peak 7\n"
            "  users active at once     3 at most\n"
            "  body bytes               1,201; median 10, 95th percentile 1,000, largest 1,000\n"
            "\n  worker      users   requests          bytes  vs mean\n"
            "       0          2          5            434   +25.0%\n"
            "       1          2          3          1,226   -25.0%\n"
            "\n    page   requests          bytes   share\n"
            "       0          4            325   50.0%\n"
            "       1          3          1,234   37.5%\n"
            "       2          1            101   12.5%\n"
            "\n  rejected records: 4\n"
            "    code 101          3\n"
            "    code 105          1\n");
}

// The user line of worker 0 replaced: what cannot be read is refused, with
// where it is. Groups of a package made with -p carry where their creation
// timestamp is ("|T:offset:size"): read past, the figures are those of the
// plain groups.
TEST(PackageProfile, ReadsPastTimestampsAndRefusesWhatItCannotRead) {
  struct Case {
    const char *index_line;
    const char *message;  // "": read as the package written
  } cases[] = {
      // Entries of 54 and 75 bytes: "body" on page 0, "body two" on page 1.
      {"000000001,vt_req_0,0,0,0,54|C:60:24,10,1,54,75|N:70:3", ""},
      {"000000001,vt_req_0,0,0,0,x", "vt_index_0 line 2 group 1: unreadable group"},
      {"000000001,vt_req_0", "vt_index_0 line 2: a user without requests"},
      {"000000001,vt_req_0,0,0,0,9999", "vt_index_0 line 2 group 1: entry outside vt_req_0"},
      {"000000001,vt_req_0,0,70000,0,10", "vt_index_0 line 2 group 1: page id 70000 out of range"},
      {"000000001,vt_req_0,0,0,0,54,0,0,54,10",
       "vt_index_0 line 2 group 2: an entry of 10 bytes does not fit the head of page 0"},
  };
  std::string dir = make_dir();
  write_package(dir, 1, {{0, 1, {{0, 0, "body"}, {10, 1, "body two"}}}});
  Profile plain;
  std::string error;
  ASSERT_TRUE(read_package_profile(dir, 1000, false, &plain, &error)) << error;
  for (const Case &c : cases) {
    write_file(dir + "/vt_index_0", kIndexHeader + std::string(c.index_line) + "\n");
    Profile p;
    error.clear();
    EXPECT_EQ(read_package_profile(dir, 1000, false, &p, &error), !c.message[0]) << c.index_line;
    if (c.message[0]) {
      EXPECT_NE(error.find(c.message), std::string::npos) << error;
    } else {
      EXPECT_EQ(format_profile_json_members(p), format_profile_json_members(plain)) << error;
    }
  }
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST(PackageProfile, BodySizeFromEntrySize) {
  // A body's size from its entry's size, with 104 fixed bytes (the entry
  // but for the length's digits and the body).
  struct Case {
    uint64_t entry;
    bool fits;
    uint64_t body;
  } cases[] = {
      // 115: 9 bytes need 1 digit, 10 bytes 2, and nothing gives 11; 0 is
      // shorter than the head, and no body size wraps.
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

// Nearest rank over the body sizes, empty bodies and both sides of the
// table of small sizes included; the requests all at one time.
TEST(PackageProfile, BodyQuantiles) {
  struct Case {
    std::vector<uint64_t> bodies;
    uint64_t median, p95, max;
  } cases[] = {
      {{0}, 0, 0, 0},
      {{0, 0, 0, 70000}, 0, 70000, 70000},
      {{65536, 65535, 65535}, 65535, 65536, 65536},
      {{7, 1, 3, 5, 9, 2}, 3, 9, 9},
      {{4, 8, 6}, 6, 8, 8},
  };
  for (const Case &c : cases) {
    ProfileBuilder b;
    profile_begin(&b, 1, 1000);
    for (uint64_t body : c.bodies) ASSERT_TRUE(profile_add_request(&b, 0, 0, 0, body + 50, body));
    Profile p;
    profile_finish(&b, &p);
    EXPECT_EQ(std::make_tuple(p.body_median, p.body_p95, p.body_max),
              std::make_tuple(c.median, c.p95, c.max))
        << c.bodies.size();
    // All sent at time 0: a replay of no length, in one bucket.
    EXPECT_EQ(std::make_tuple(p.last_ms, p.duration_ms, p.peak_bucket_requests),
              std::make_tuple(uint64_t{0}, uint64_t{0}, uint64_t{c.bodies.size()}));
  }
}

// A long replay is charted in wider columns; the columns keep every request
// and the busiest bucket and the most active users of the whole replay.
TEST(PackageProfile, ColumnsWidenAndKeepTheFigures) {
  ProfileBuilder b;
  profile_begin(&b, 3, 1000);
  uint64_t users = 0;
  for (uint64_t t = 0; t < 3 * 86400000ull; t += 7919) {
    int w = static_cast<int>(t / 7919 % 3);
    ASSERT_TRUE(profile_add_request(&b, w, static_cast<int>(t % 5), t, 300, 200));
    profile_add_user(&b, w, t, t + 30000);
    users++;
  }
  // A burst: five requests in one second, and many users at once.
  for (int i = 0; i < 5; i++) ASSERT_TRUE(profile_add_request(&b, 0, 0, 86400100 + i, 300, 200));
  Profile p;
  profile_finish(&b, &p);
  EXPECT_GT(p.column_ms, p.bucket_ms);
  EXPECT_LE(p.column_peak.size(), b.max_columns);
  uint64_t charted = 0;
  for (const auto &cols : p.worker_columns)
    for (uint64_t n : cols) charted += n;
  EXPECT_EQ(charted, p.requests);
  EXPECT_EQ(*std::max_element(p.column_peak.begin(), p.column_peak.end()), p.peak_bucket_requests);
  EXPECT_EQ(p.peak_bucket_requests, 5u);  // the burst
  EXPECT_EQ(*std::max_element(p.column_active.begin(), p.column_active.end()), p.max_active_users);
  EXPECT_EQ(p.users, users);
}

// A user is active in every column from its first request to its last,
// the columns without a request of anyone's included.
TEST(PackageProfile, UsersAreActiveInEveryColumnTheySpan) {
  ProfileBuilder b;
  profile_begin(&b, 1, 1000);
  for (auto [first, last] : {std::pair{500, 10500}, {3100, 5900}, {8000, 8000}}) {
    ASSERT_TRUE(profile_add_request(&b, 0, 0, first, 300, 200));
    ASSERT_TRUE(profile_add_request(&b, 0, 0, last, 300, 200));
    profile_add_user(&b, 0, first, last);
  }
  Profile p;
  profile_finish(&b, &p);
  ASSERT_EQ(p.column_ms, 1000u);
  EXPECT_EQ(p.column_active, (std::vector<uint64_t>{1, 1, 1, 2, 2, 2, 1, 1, 2, 1, 1}));
  EXPECT_EQ(p.max_active_users, 2u);
}

// A user whose only request is at 0 ms has left by 1 ms, when the next
// comes in: one user at a time, as the package reads.
TEST(PackageProfile, AUserOfOneRequestAtTheStartIsGoneAMillisecondLater) {
  std::string dir = make_dir();
  write_package(dir, 1, {{0, 1, {{0, 0, "a"}}}, {0, 2, {{1, 0, "b"}}}});
  Profile p;
  std::string error;
  ASSERT_TRUE(read_package_profile(dir, 1000, false, &p, &error)) << error;
  EXPECT_EQ(p.max_active_users, 1u);
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

// Buckets past the table are kept one by one: the figures are those a table
// of every bucket gives (the earliest of equal buckets is the peak), and
// memory does not follow a send time far out.
TEST(PackageProfile, BucketsPastTheTableCountAlike) {
  ProfileBuilder b;
  profile_begin(&b, 1, 1000);
  const uint64_t edge = kDenseBuckets * 1000;  // the first bucket past the table
  const uint64_t times[] = {5000,        5400,        edge + 10,   edge + 999,
                            edge + 7000, edge + 7001, edge + 7002, uint64_t{1} << 50};
  for (uint64_t t : times) ASSERT_TRUE(profile_add_request(&b, 0, 0, t, 300, 200));
  profile_add_user(&b, 0, 5000, uint64_t{1} << 50);
  EXPECT_EQ(b.bucket_counts.dense.size(), 6u);  // up to bucket 5 only
  EXPECT_EQ(b.bucket_counts.sparse.size(), 3u);
  Profile p;
  profile_finish(&b, &p);
  EXPECT_EQ(p.peak_bucket_requests, 3u);
  EXPECT_EQ(p.peak_bucket_start_ms, edge + 7000);
  EXPECT_EQ(p.rpm_peak, 5u);  // the minute of edge .. edge + 7002
  EXPECT_EQ(p.duration_ms, (uint64_t{1} << 50) - 5000);
  EXPECT_EQ(*std::max_element(p.column_peak.begin(), p.column_peak.end()), 3u);
  uint64_t charted = 0;
  for (uint64_t n : p.worker_columns[0]) charted += n;
  EXPECT_EQ(charted, 8u);

  // A tie between a bucket of the table and one past it: the earlier wins.
  profile_begin(&b, 1, 1000);
  for (uint64_t t : {uint64_t{2000}, uint64_t{2001}, edge + 1, edge + 2})
    ASSERT_TRUE(profile_add_request(&b, 0, 0, t, 300, 200));
  profile_finish(&b, &p);
  EXPECT_EQ(p.peak_bucket_requests, 2u);
  EXPECT_EQ(p.peak_bucket_start_ms, 2000u);

  // One request a bucket: the first bucket is the peak; no request, no peak.
  for (std::vector<uint64_t> times : {std::vector<uint64_t>{3000, 7000}, std::vector<uint64_t>{}}) {
    profile_begin(&b, 1, 1000);
    for (uint64_t t : times) ASSERT_TRUE(profile_add_request(&b, 0, 0, t, 300, 200));
    Profile q;
    profile_finish(&b, &q);
    EXPECT_EQ(q.peak_bucket_requests, times.size() ? 1u : 0u);
    EXPECT_EQ(q.peak_bucket_start_ms, times.size() ? 3000u : 0u);
    // No request spans nothing: its captured time runs from the start to the start.
    EXPECT_EQ(std::make_pair(q.first_ms, q.last_ms),
              times.size() ? std::make_pair(3000ul, 7000ul) : std::make_pair(0ul, 0ul));
  }
}

TEST(ProfileOptions, BucketSeconds) {
  struct Case {
    const char *text;
    uint64_t ms;  // 0: refused
  } cases[] = {
      {"1", 1000},
      {"31536000", 31536000000},
      {"000000007", 7000},
      {"0", 0},
      {"31536001", 0},
      {"0000000007", 0},
      {"", 0},
      {"1.5", 0},
      {"-1", 0},
      {" 1", 0},
      {"1s", 0},
  };
  for (const Case &c : cases) {
    uint64_t ms = 0;
    EXPECT_EQ(parse_bucket_seconds(c.text, &ms), c.ms != 0) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
}

TEST(ProfileReport, NumberFormats) {
  EXPECT_EQ(format_count(0), "0");
  EXPECT_EQ(format_count(999), "999");
  EXPECT_EQ(format_count(1000), "1,000");
  EXPECT_EQ(format_count(1234567), "1,234,567");
  EXPECT_EQ(format_rate(3), "3");
  EXPECT_EQ(format_rate(2.5), "2.5");
  EXPECT_EQ(format_rate(1234.56789), "1234.568");
  EXPECT_EQ(format_rate(0.000260123), "0.0002601");
  EXPECT_EQ(format_rate(-0.0), "0");
  EXPECT_EQ(format_duration(88429877), "24:33:49.877");
  EXPECT_EQ(format_imbalance(5, 8, 2), "+25.0%");
  EXPECT_EQ(format_imbalance(4, 8, 2), "0.0%");
}

}  // namespace

// A dry run that spills hands the users' times over in sorted runs of its
// own: the builder then keeps none of them, and the figures are those of
// the same users kept in memory.
TEST(PackageProfile, UserTimesFromSortedSourcesAreNotKept) {
  const std::vector<std::pair<uint64_t, uint64_t>> users = {
      {1000, 5000}, {2000, 2000}, {2000, 9000}, {4000, 4500}, {9000, 12000}};
  Profile in_memory, elsewhere;
  for (bool from_sources : {false, true}) {
    ProfileBuilder b;
    profile_begin(&b, 2, 1000);
    std::vector<uint64_t> firsts, lasts;
    for (auto [first, last] : users) {
      ASSERT_TRUE(profile_add_request(&b, 0, 0, first, 300, 200));
      ASSERT_TRUE(profile_add_request(&b, 1, 1, last, 300, 200));
      firsts.push_back(first);
      lasts.push_back(last);
    }
    std::sort(lasts.begin(), lasts.end());
    auto source = [](std::vector<uint64_t> v) {
      return
          [v, i = size_t{0}](uint64_t *t) mutable { return i < v.size() && (*t = v[i++], true); };
    };
    if (from_sources) {
      b.user_times_elsewhere = true;
      b.sorted_firsts = source(firsts);
      b.sorted_lasts = source(lasts);
    }
    for (size_t i = 0; i < users.size(); i++)
      profile_add_user(&b, static_cast<int>(i % 2), users[i].first, users[i].second);
    if (from_sources) {
      EXPECT_EQ(b.user_first.capacity(), 0u);
      EXPECT_EQ(b.user_last.capacity(), 0u);
    }
    profile_finish(&b, from_sources ? &elsewhere : &in_memory);
  }
  EXPECT_EQ(in_memory.max_active_users, 3u);  // at 4000: the first, third and fourth
  EXPECT_EQ(elsewhere.max_active_users, in_memory.max_active_users);
  EXPECT_EQ(elsewhere.column_active, in_memory.column_active);
  EXPECT_EQ(elsewhere.users, 5u);
}

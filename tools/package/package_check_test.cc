#include "tools/package/package_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace {

const char *kHeader =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";
const std::string kEntryA = "POST /a HTTP/1.0\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc\n";
const std::string kEntryB = "POST /b HTTP/1.0\r\nHost: h\r\nContent-Length: 2\r\n\r\nxy\n";

void write_file(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// One worker, one user with two requests; each case spoils one thing.
TEST(PackageCheck, FindsWhatIsWrongWithAPackage) {
  std::string a = std::to_string(kEntryA.size()), b = std::to_string(kEntryB.size());
  const std::string one = "000000001,vt_req_0,0,1,0," + a, two = one + ",10,2," + a + "," + b;
  struct Case {
    std::string index_line;
    std::string requests;
    std::string problem;     // "" when sound
    std::string extra = "";  // a file more in the package
    std::string header = kHeader;
  } cases[] = {
      {two, kEntryA + kEntryB, ""},
      {two, kEntryA + kEntryB.substr(0, kEntryB.size() - 1) + "\n\n",
       "vt_req_0: entries do not tile"},
      {"000000001,vt_req_0,10,1,0," + a + ",0,2," + a + "," + b, kEntryA + kEntryB,
       "group 2: time goes back"},
      {two, kEntryA + "POST /b HTTP/1.0\r\nHost: h\r\nContent-Length: 3\r\n\r\nxy\n",
       "Content-Length 3 but body of 2"},
      {one, kEntryA + kEntryB, "entries do not tile the file from offset " + a},
      {"000000001,vt_req_1,0,1,0," + a, kEntryA, "names vt_req_1"},
      // A number too large is shown whole up to 40 characters.
      {"000000001,vt_req_0," + std::string(40, '9') + ",1,0," + a, kEntryA,
       "group 1: number " + std::string(40, '9') + " is too large (above 18446744073709551615)"},
      {one + "|t:0:" + std::string(41, '8'), kEntryA,
       "group 1: number " + std::string(40, '8') + "... is too large"},
      {one, kEntryA, "vt_req_1 has no index file", "vt_req_1"},
      {"000000001,vt_req_0,0,1,0", kEntryA, "line 2: wrong field count"},
      {one + ",0,1", kEntryA, "line 2: wrong field count"},
      {"00000001,vt_req_0,0,1,0," + a, kEntryA, "line 2: bad user id 00000001"},
      {"0000000x1,vt_req_0,0,1,0," + a, kEntryA, "line 2: bad user id 0000000x1"},
      {one, kEntryA, "vt_index_0 line 1: bad header", "", "#user_id\n"},
  };
  for (const Case &c : cases) {
    char tmpl[] = "/tmp/vt_check_test.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    write_file(dir + "/vt_index_0", c.header + c.index_line + "\n");
    write_file(dir + "/vt_req_0", c.requests);
    if (!c.extra.empty()) write_file(dir + "/" + c.extra, kEntryA);
    PackageSummary summary;
    std::vector<std::string> problems = check_replay_package(dir, &summary);
    if (c.problem.empty()) {
      EXPECT_TRUE(problems.empty()) << problems[0];
      EXPECT_EQ(summary.users, 1u);
      EXPECT_EQ(summary.requests, 2u);
    } else {
      ASSERT_FALSE(problems.empty()) << c.index_line;
      bool found = false;
      for (const std::string &p : problems) found = found || p.find(c.problem) != std::string::npos;
      EXPECT_TRUE(found) << c.problem << " not in " << problems[0];
    }
    ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }
}

// One user with one entry: every problem found, in the order of the checks.
TEST(PackageCheck, ChecksEachEntry) {
  const std::string head = "POST /a HTTP/1.0\r\nHost: h\r\n";
  const std::string e = head + "Content-Length: 3\r\n\r\nabc\n";
  const std::string body_at = std::to_string(e.size() - 4), before = std::to_string(e.size() - 5);
  const std::string big = "99999999999999999999";
  const std::string untiled = "vt_req_0: entries do not tile the file from offset 0";
  struct Case {
    std::string entry, ts, problem;  // "" when sound
    std::string page = "1";
  } cases[] = {
      {e, "", ""},
      {e, "|t:" + body_at + ":3", ""},
      {head + "Content-Length: 0\r\n\r\n\n", "", ""},
      {e, "|t:" + before + ":3", "creation timestamp outside the body"},
      {e, "|t:" + body_at + ":4", "creation timestamp outside the body"},
      // A group that cannot be read leaves its bytes out of the tiling.
      {e, "|t:" + big + ":1",
       "number " + big + " is too large (above 18446744073709551615);" + untiled},
      {e, "|t:1", "unreadable;" + untiled},
      {e, "|t:" + body_at + ":x", "unreadable;" + untiled},  // a sound number before it
      {e, "|tt:1:1", "unreadable;" + untiled},
      {e, "", "", "-2"},
      {e, "", "unreadable;" + untiled, "x"},
      {e, "", "unreadable;" + untiled, "-"},
      {e, "", "page id -9223372036854775808 is too large;" + untiled, "-9223372036854775808"},
      {"GET /a\r\nContent-Length: 0\r\n\r\n\n", "", "bad request line: GET /a"},
      {"POST a HTTP/1.0\r\nContent-Length: 0\r\n\r\n\n", "", "bad request line: POST a HTTP/1.0"},
      {"POST /a HTTP1.0\r\nContent-Length: 0\r\n\r\n\n", "", "bad request line: POST /a HTTP1.0"},
      {head + "\r\nabc\n", "", "no Content-Length line"},
      {head + "Content-Length: 3x\r\n\r\nabc\n", "", "bad Content-Length"},
      {head + "Content-Length: " + big + "\r\n\r\nabc\n", "",
       "Content-Length: number " + big + " is too large (above 18446744073709551615)"},
      {head + "Content-Length: 3\r\n\r\nabcd", "", "entry does not end with a newline"},
      {head + "Content-Length: 0\r\n\r\n", "", "entry has no empty line after its head"},
      {head + "Content-Length: 3\r\nabc\n", "", "entry has no empty line after its head"},
  };
  for (const Case &c : cases) {
    char tmpl[] = "/tmp/vt_check_test.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    write_file(dir + "/vt_index_0", kHeader + ("000000001,vt_req_0,0," + c.page + ",0," +
                                               std::to_string(c.entry.size()) + c.ts + "\n"));
    write_file(dir + "/vt_req_0", c.entry);
    PackageSummary summary;
    std::string found;
    for (const std::string &p : check_replay_package(dir, &summary)) found += p + ";";
    EXPECT_EQ(found, c.problem.empty() ? "" : "vt_index_0 line 2 group 1: " + c.problem + ";")
        << c.entry << c.ts;
    ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
  }
}

// Files others may write are named in the order of their names, whatever
// order the directory lists them in.
TEST(PackageCheck, NamesFilesOthersMayWriteInOrder) {
  char tmpl[] = "/tmp/vt_check_test.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::vector<std::string> want;
  for (int w = 0; w < 6; w++) {
    std::string n = std::to_string(w), req = "vt_req_" + n, index = "vt_index_" + n;
    write_file(dir + "/" + index, kHeader + ("00000000" + std::to_string(w + 1) + "," + req +
                                             ",0,1,0," + std::to_string(kEntryA.size()) + "\n"));
    write_file(dir + "/" + req, kEntryA);
    for (const std::string &name : {index, req}) {
      ASSERT_EQ(chmod((dir + "/" + name).c_str(), 0646), 0);
      want.push_back(name + ": others may write it (mode 0646)");
    }
  }
  std::sort(want.begin(), want.end());
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(dir, &summary), want);
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace

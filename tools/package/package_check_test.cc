#include "tools/package/package_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "base/package/package_format.h"
#include "tools/package/package_test_support.h"

namespace {

// Each problem of a user's groups and entries, in check order; unreadable groups untiled.
TEST(PackageCheck, ChecksEachEntryAndTheTiling) {
  const std::string head = "POST /a HTTP/1.0\r\nHost: h\r\n";
  const std::string e = head + "Content-Length: 3\r\n\r\nabc\n", n = std::to_string(e.size());
  const std::string body_at = std::to_string(e.size() - 4), before = std::to_string(e.size() - 5);
  const std::string big = "99999999999999999999";
  const std::string untiled = "vt_req_0: entries do not tile the file from offset ";
  struct Case {
    std::string entries, groups, problems;  // groups: after "<user>,vt_req_0"
  } cases[] = {
      {e, ",0,1,0," + n + "|t:" + body_at + ":3", ""},
      {head + "Content-Length: 0\r\n\r\n\n", ",0,-2,0,S", ""},
      {e + e, ",0,1,0," + n, untiled + n},
      {e + e, ",0,1,0," + n + ",0,1,0," + n, untiled + n},
      {e, ",0,1,0," + n + "|t:" + before + ":3", "group 1: creation timestamp outside the body"},
      {e, ",0,1,0," + n + "|t:" + body_at + ":4", "group 1: creation timestamp outside the body"},
      {e, ",0,1,0," + n + "|t:1", "group 1: unreadable group;" + untiled + "0"},
      {"GET /a\r\nContent-Length: 0\r\n\r\n\n", ",0,1,0,S", "group 1: bad request line: GET /a"},
      {"POST a HTTP/1.0\r\nContent-Length: 0\r\n\r\n\n", ",0,1,0,S", "group 1: bad request line"},
      {head + "\r\nabc\n", ",0,1,0,S", "group 1: no Content-Length line"},
      {head + "Content-Length: 3x\r\n\r\nabc\n", ",0,1,0,S", "group 1: bad Content-Length"},
      {head + "Content-Length: " + big + "\r\n\r\nabc\n", ",0,1,0,S",
       "group 1: Content-Length " + big + " is too large (above 18446744073709551615)"},
      {head + "Content-Length: 3\r\n\r\nabcd", ",0,1,0," + n,
       "group 1: entry does not end with a newline"},
      {head + "Content-Length: 0\r\n\r\n", ",0,1,0,S", "group 1: entry has no empty line"},
      {head + "Content-Length: 3\r\nabc\n", ",0,1,0,S", "group 1: entry has no empty line"},
  };
  for (const Case &c : cases) {
    TempDir d;
    d.write("vt_req_0", c.entries);
    PackageSummary summary;
    std::string found, groups = c.groups;
    if (groups.back() == 'S')
      groups.replace(groups.size() - 1, 1, std::to_string(c.entries.size()));
    d.write("vt_index_0", kIndexHeader + ("000000001,vt_req_0" + groups + "\n"));
    for (const std::string &p : check_replay_package(d.path, &summary)) found += p + ";";
    // A problem of a group is named by its line; "" wants none.
    std::string want =
        c.problems.starts_with("group") ? "vt_index_0 line 2 " + c.problems : c.problems;
    EXPECT_TRUE(want.empty() ? found.empty() : found.starts_with(want))
        << c.groups << ": " << found;
  }
}

// Files others may write are named in the order of their names.
TEST(PackageCheck, NamesFilesOthersMayWriteInOrder) {
  TempDir d;
  std::vector<std::string> want;
  const std::string e = "POST /a HTTP/1.0\r\nContent-Length: 0\r\n\r\n\n",
                    n = std::to_string(e.size());
  for (int w = 0; w < 3; w++) {
    d.write(index_file_name(w), kIndexHeader + ("00000000" + std::to_string(w + 1) + "," +
                                                request_file_name(w) + ",0,1,0," + n + "\n"));
    d.write(request_file_name(w), e);
    for (const std::string &name : {index_file_name(w), request_file_name(w)}) {
      ASSERT_EQ(chmod((d.path + "/" + name).c_str(), 0646), 0);
      want.push_back(name + ": others may write it (mode 0646)");
    }
  }
  std::sort(want.begin(), want.end());
  PackageSummary summary;
  EXPECT_EQ(check_replay_package(d.path, &summary), want);
  EXPECT_EQ(summary.requests, 3u);
}

}  // namespace

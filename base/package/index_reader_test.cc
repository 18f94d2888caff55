#include "base/package/index_reader.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A file holding text, read through a descriptor as the programs read.
int file_of(const std::string &text) {
  int fd = memfd_create("index", 0);
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// The reader reads what the writer writes, where it says: long lines, pages < 0, timestamps.
TEST(IndexFormat, TheReaderReadsWhatTheWriterWrites) {
  std::vector<IndexGroup> groups;
  for (uint64_t i = 0; i < 70000; i++)
    groups.push_back({i * 7, i % 3 == 0 ? -2 : static_cast<int64_t>(i % 70), i * 100, 99,
                      i % 2 ? 'T' : '\0', i % 2 ? 40u : 0u, i % 2 ? 13u : 0u});
  std::string text = kIndexHeader, line;
  start_index_line(7, 3, &line);
  for (const IndexGroup &g : groups) append_index_group(g, &line);
  text += line + "\n";
  start_index_line(1234567890123, 3, &line);
  append_index_group(groups[1], &line);
  text += line + "\n";
  EXPECT_EQ(text.substr(kIndexHeaderSize, 30), "000000007,vt_req_3,0,-2,0,99,7");
  int fd = file_of(text);
  IndexReader r;
  start_index_reader(&r, fd, 3);
  std::string fault;
  ASSERT_TRUE(read_index_header(&r, &fault)) << fault;
  uint64_t user;
  ASSERT_TRUE(next_index_user(&r, &user, &fault)) << fault;
  EXPECT_EQ(user, 7u);
  IndexGroup g;
  for (const IndexGroup &want : groups) {
    ASSERT_TRUE(next_index_group(&r, &g, &fault)) << fault;
    ASSERT_EQ(std::tie(g.time_ms, g.page_id, g.offset, g.size, g.ts_type, g.ts_offset, g.ts_size),
              std::tie(want.time_ms, want.page_id, want.offset, want.size, want.ts_type,
                       want.ts_offset, want.ts_size));
    IndexGroup again;  // where it lies, to be read again to be sent
    ASSERT_EQ(parse_index_group(text.data() + r.group_at, r.group_bytes + 1, &again, &fault),
              r.group_bytes);
    ASSERT_EQ(again.offset, want.offset);
  }
  EXPECT_FALSE(next_index_group(&r, &g, &fault));
  EXPECT_EQ(fault, "");
  ASSERT_TRUE(next_index_user(&r, &user, &fault)) << fault;
  EXPECT_EQ(user, 1234567890123u);
  EXPECT_TRUE(next_index_group(&r, &g, &fault));
  EXPECT_FALSE(next_index_group(&r, &g, &fault));
  EXPECT_FALSE(next_index_user(&r, &user, &fault));
  EXPECT_EQ(fault, "");
  close(fd);
}

// Each fault of a group, and of a line, named as every reader names it.
TEST(IndexFormat, FaultsAreNamed) {
  const std::string big = "99999999999999999999", zeros(200, '0');
  struct Group {
    std::string text, fault;  // "" when it is a group
  } groups[] = {
      {",10,-1,20,30|1:120:13", ""},
      {"," + zeros + "5,0," + zeros + "0,1", ""},
      {",10,1,20", "unreadable group"},
      {",10,1,20,30x", "unreadable group"},
      {",10,1,20,30|tt:1:1", "unreadable group"},
      {"10,1,20,30", "unreadable group"},
      {"," + big + ",1,2,3", "number " + big + " is too large (above 18446744073709551615)"},
      {",1,2,3,4|t:0:" + std::string(41, '8'), "number " + std::string(40, '8') + "... is too"},
      {",0,2147483648,0,1", "page id 2147483648 is beyond 32 bits"},
      {",0,-2147483648,0,1", ""},
      {",253402300799999,0,0,1", ""},
      {",253402300800000,0,0,1", "send time 253402300800000 ms lies beyond the year 9999"},
  };
  for (const Group &c : groups) {
    IndexGroup g;
    std::string fault;
    size_t used = parse_index_group(c.text.data(), c.text.size(), &g, &fault);
    EXPECT_EQ(used, c.fault.empty() ? c.text.size() : 0u) << c.text;
    if (!c.fault.empty()) {
      EXPECT_EQ(fault.rfind(c.fault, 0), 0u) << c.text << ": " << fault;
    }
  }
  const std::string user = "000000001,vt_req_0";
  struct Line {
    std::string lines, fault;
  } lines[] = {
      {"", "1: empty, not even its header line"},
      {"#user_id\n", "1: not the header line of an index file"},
      {"@" + user + ",0,0,0,1\n00000001,vt_req_0,0,0,0,1\n", "3: no user id of 9 digits or more"},
      {"@" + big + ",vt_req_0,0,0,0,1\n",
       "2: the user id is too large (above 18446744073709551615)"},
      {"@000000001,vt_req_01,0,0,0,1\n", "2: the user is not on vt_req_0"},
      {"@" + user + "\n", "2: a user without requests"},
      {"@" + user + ",0,0,0,1", "2 group 1: the file ends in the middle of a line"},
      {"@" + user + ",0,0,0,1,2\n", "2 group 2: unreadable group"},
      {"@" + user + ",0," + std::string(5000, '0') + ",0,1\n",
       "2 group 1: a group longer than 4096 bytes"},
  };
  for (const Line &c : lines) {
    std::string text = c.lines;
    if (text[0] == '@') text.replace(0, 1, kIndexHeader);
    int fd = file_of(text);
    IndexReader r;
    start_index_reader(&r, fd, 0);
    std::string fault;
    uint64_t id;
    IndexGroup g;
    bool ok = read_index_header(&r, &fault);
    while (ok && next_index_user(&r, &id, &fault)) {
      while (next_index_group(&r, &g, &fault)) {
      }
      ok = fault.empty();
    }
    EXPECT_EQ(index_reader_where(r) + ": " + fault, "vt_index_0 line " + c.fault);
    close(fd);
  }
}

}  // namespace

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/core/failing_io_test_support.h"
#include "base/core/temp_dir_test_support.h"
#include "tools/suite/gen_input.h"
#include "tools/suite/page_rename.h"
#include "tools/suite/script_store.h"

namespace {

using Names = std::vector<std::string>;

Names names_of(const std::vector<SuitePage> &pages) {
  Names names;
  for (const SuitePage &p : pages) names.push_back(p.name);
  return names;
}

// Unknown pages, taken names and lists of other lengths: e2e case script_suite_commands.
TEST(PageRename, PairwiseRefusingTakenNames) {
  struct Case {
    Names from, to, result;  // result empty: refused, pages unchanged
    const char *err;
  } cases[] = {
      {{"p1", "p2", "p3"}, {"AXXX", "BXXX", "CXXX"}, {"AXXX", "BXXX", "CXXX"}, ""},
      {{"p1", "p2"}, {"x", "p1"}, {"x", "p1", "p3"}, ""},
      {{"p1", "p2"}, {"p1", "x"}, {"p1", "x", "p3"}, ""},
      {{"p1"}, {""}, {}, "invalid page name ''"},
  };
  for (const Case &c : cases) {
    std::vector<SuitePage> pages = {{"p1", "GET", "u1"}, {"p2", "GET", "u2"}, {"p3", "GET", "u3"}};
    std::string err;
    EXPECT_EQ(rename_pages(&pages, c.from, c.to, &err), !c.result.empty()) << c.err;
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(names_of(pages), c.result.empty() ? Names({"p1", "p2", "p3"}) : c.result) << c.err;
    EXPECT_EQ(pages[2].url, "u3");
  }
  EXPECT_EQ(split_name_list("a,,b,"), Names({"a", "", "b", ""}));
}

TEST(GenInput, UniquePageNames) {
  std::vector<SuitePage> pages;
  for (const char *wanted : {"a", "a", "a_2", "a", "", "x,y", "a_3", "a"})
    pages.push_back({wanted, "GET", "u"});
  name_pages(&pages);
  EXPECT_EQ(names_of(pages), Names({"a", "a_2", "a_2_2", "a_3", "page_5", "x_y", "a_3_2", "a_4"}));
}

TEST(ScriptStore, Names) {
  for (const char *good : {"p/s/n", ".p/s./n..", "p q/s/n"})
    EXPECT_TRUE(valid_script_name(good)) << good;
  for (const char *bad :
       {"p/s", "p/s/n/x", "p//n", "/p/s", "p/s/", "p/./n", "../s/n", "p/s/..", "", "p/s/n/"})
    EXPECT_FALSE(valid_script_name(bad)) << bad;
}

// A script written is read back as it was; what is missing, damaged or in the way is named.
TEST(ScriptStore, WrittenReadOrRefused) {
  namespace fs = std::filesystem;
  VtTempDir tmp;
  const std::string dir = tmp.path, script = dir + "/p/s/n";
  auto put = [&](const std::string &name, const std::string &text) {
    std::ofstream(script + "/" + name, std::ios::binary) << text;
  };
  SuiteScript written{"C", {{"a", "GET", "/x"}, {"b b", "POST", ""}}}, read;
  std::string err;
  mode_t mask = umask(022);
  ASSERT_TRUE(write_script(script, written, &err)) << err;
  umask(mask);
  for (const char *name : {"script.type", "script.pages"})
    EXPECT_EQ(fs::status(script + "/" + name).permissions(), fs::perms(0644)) << name;
  ASSERT_TRUE(read_script(script, &read, &err)) << err;
  EXPECT_EQ(read.type, "C");
  EXPECT_EQ(names_of(read.pages), Names({"a", "b b"}));
  EXPECT_EQ(read.pages[1].method + read.pages[1].url, "POST");
  const std::string damaged = "damaged page list '" + script + "/script.pages' at line ";
  struct Case {
    std::string file, text, err;  // written into the script before it is read
  } cases[] = {
      {"script.pages", "a\tGET\n", damaged + "1"},
      {"script.pages", "a\tGET\t/x\n\tGET\t/y\n", damaged + "2"},
      {"script.pages", "a\tGET\t/x\tz\n", damaged + "1"},
      {"script.type", "", "no script in '" + script + "'"},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(write_script(script, written, &err)) << err;
    put(c.file, c.text);
    EXPECT_FALSE(read_script(script, &read, &err)) << c.text;
    EXPECT_EQ(err, c.err) << c.text;
  }
  // Written also when standard input is closed, and a file takes its number.
  int saved_stdin = dup(0);
  ASSERT_GE(saved_stdin, 0);
  close(0);
  bool written_without_stdin = write_script(script, written, &err);
  dup2(saved_stdin, 0);
  close(saved_stdin);
  EXPECT_TRUE(written_without_stdin) << err;
  ASSERT_TRUE(read_script(script, &read, &err)) << err;
  EXPECT_EQ(names_of(read.pages), Names({"a", "b b"}));
  // In the way: a file where a directory goes, a directory where a file goes.
  fs::create_directories(script + "/script.pages.tmp");
  EXPECT_FALSE(write_script(script, written, &err));
  EXPECT_EQ(err, "cannot write '" + script + "/script.pages': a directory, not a regular file");
  fs::remove(script + "/script.pages.tmp");
  fs::remove(script + "/script.pages");
  fs::create_directories(script + "/script.pages/x");
  EXPECT_FALSE(write_script(script, written, &err));
  EXPECT_EQ(err, "cannot write '" + script + "/script.pages': Is a directory");
  fs::remove_all(script + "/script.pages");
  SuiteScript big{"C", std::vector<SuitePage>(20, {"page", "GET", "/x"})};
  EXPECT_FALSE(vt_with_file_size_limit(100, [&] { return write_script(script, big, &err); }));
  EXPECT_EQ(err, "cannot write '" + script + "/script.pages': File too large");
  vt_fail_close_of("/script.pages.tmp", EIO, 1);
  bool ok = write_script(script, written, &err);
  EXPECT_EQ(vt_failed_closes(), 1);
  vt_fail_close_of("", 0, 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(err, "cannot write '" + script + "/script.pages': Input/output error");
  put("../file", "");
  EXPECT_FALSE(write_script(dir + "/p/s/file/n", written, &err));
  EXPECT_EQ(err.substr(0, err.find(": ")), "cannot create '" + dir + "/p/s/file/n'");
}

}  // namespace

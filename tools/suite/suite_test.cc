#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST(PageRename, PairwiseRefusingTakenNames) {
  struct Case {
    Names from, to, result;  // result empty: refused, pages unchanged
    const char *err;
  } cases[] = {
      {{"p1", "p2", "p3"}, {"AXXX", "BXXX", "CXXX"}, {"AXXX", "BXXX", "CXXX"}, ""},
      {{"p1", "p2"}, {"x", "p1"}, {"x", "p1", "p3"}, ""},
      {{"p1", "p2"},
       {"p2", "p1"},
       {},
       "cannot rename page 'p1' to 'p2': another page has that name"},
      {{"p1", "q"}, {"x", "y"}, {}, "unknown page 'q'"},
      {{"p1", "p2"}, {"x"}, {}, "2 current names but 1 new names"},
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

TEST(GenInput, LinesAndUniqueNames) {
  struct Case {
    const char *line;
    bool with_name;
    const char *want;  // method url name, or the error
  } cases[] = {
      {"1 POST http://h/a Pfx_Get Quote", true, "POST http://h/a Pfx_Get Quote"},
      {"1 GET http://h/b", false, "GET http://h/b "},
      {"1 GET http://h/b", true, "page name missing"},
      {"1 GET http://h/b Name", false, "unexpected text after the URL"},
      {"2 GET http://h/b", false, "expected \"1 METHOD URL\""},
      {"1 GET", true, "expected \"1 METHOD URL NAME\""},
  };
  for (const Case &c : cases) {
    SuitePage p;
    std::string err;
    bool ok = parse_gen_line(c.line, c.with_name, &p, &err);
    EXPECT_EQ(ok ? p.method + " " + p.url + " " + p.name : err, c.want) << c.line;
  }
  std::vector<SuitePage> pages;
  for (const char *wanted : {"A", "", "A", "x,y", "page_2", "A"}) pages.push_back({wanted, "", ""});
  name_pages(&pages);
  EXPECT_EQ(names_of(pages), Names({"A", "page_2", "A_2", "x_y", "page_2_2", "A_3"}));
}

TEST(ScriptStore, PagesKeepTheirOrderAndNamesAreChecked) {
  char templ[] = "/tmp/vt_suite_test.XXXXXX";
  ASSERT_NE(mkdtemp(templ), nullptr);
  std::string dir, err;
  unsetenv("VT_WDIR");
  EXPECT_FALSE(script_dir_of("p/s/n", &dir, &err));
  EXPECT_EQ(err, "VT_WDIR is not set");
  setenv("VT_WDIR", templ, 1);
  for (const char *bad : {"p/s", "p/s/n/x", "/p/s/n", "p//n", "p/../n", "p/s/"})
    EXPECT_FALSE(script_dir_of(bad, &dir, &err)) << bad;
  ASSERT_TRUE(script_dir_of("p/s/n", &dir, &err));
  EXPECT_EQ(dir, std::string(templ) + "/scripts/p/s/n");
  SuiteScript written{"C", {{"zeta", "POST", "http://h/z"}, {"alpha", "GET", "http://h/a?x=1"}}};
  ASSERT_TRUE(write_script(dir, written, &err)) << err;
  SuiteScript read;
  ASSERT_TRUE(read_script(dir, &read, &err)) << err;
  EXPECT_EQ(read.type + " " + read.pages[1].url, "C http://h/a?x=1");
  EXPECT_EQ(names_of(read.pages), Names({"zeta", "alpha"}));
  EXPECT_FALSE(read_script(std::string(templ) + "/scripts/p/s/other", &read, &err));
  unsetenv("VT_WDIR");
  std::filesystem::remove_all(templ);
}

}  // namespace

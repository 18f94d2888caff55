#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/suite/gen_input.h"
#include "tools/suite/page_rename.h"

namespace {

using Names = std::vector<std::string>;

Names names_of(const std::vector<SuitePage> &pages) {
  Names names;
  for (const SuitePage &p : pages) names.push_back(p.name);
  return names;
}

// Refusals of unknown pages, taken names and lists of other lengths: the
// end-to-end case script_suite_commands.
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

}  // namespace

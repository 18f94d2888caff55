#include "tools/suite/gen_input.h"

#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "base/core/input_file.h"

namespace {

// Cuts the next blank-separated field off rest.
std::string next_field(std::string *rest) {
  size_t blank = rest->find(' ');
  std::string field = rest->substr(0, blank);
  rest->erase(0, blank == std::string::npos ? rest->size() : blank + 1);
  return field;
}

std::string page_name_from(std::string wanted, size_t position) {
  for (char &c : wanted)
    if (c == ',' || c == '\t' || c == '\r') c = '_';
  return wanted.empty() ? "page_" + std::to_string(position) : wanted;
}

}  // namespace

bool parse_gen_line(const std::string &line, bool with_name, SuitePage *page, std::string *err) {
  if (line.find('\t') != std::string::npos) {
    *err = "tab in line";
    return false;
  }
  std::string rest = line;
  std::string one = next_field(&rest);
  page->method = next_field(&rest);
  page->url = next_field(&rest);
  if (one != "1" || page->method.empty() || page->url.empty()) {
    *err = with_name ? "expected \"1 METHOD URL NAME\"" : "expected \"1 METHOD URL\"";
    return false;
  }
  if (with_name && rest.empty()) {
    *err = "page name missing";
    return false;
  }
  if (!with_name && !rest.empty()) {
    *err = "unexpected text after the URL";
    return false;
  }
  page->name = rest;
  return true;
}

bool read_gen_input(const std::string &path, bool with_name, std::vector<SuitePage> *pages,
                    std::string *err) {
  std::string text, why;
  if (!vtlb_read_regular_file(path, &text, &why)) {
    *err = "cannot read input file '" + path + "': " + why;
    return false;
  }
  std::istringstream in(text);
  std::string line;
  for (int line_no = 1; std::getline(in, line); line_no++) {
    SuitePage page;
    if (!parse_gen_line(line, with_name, &page, err)) {
      *err = path + ":" + std::to_string(line_no) + ": " + *err;
      return false;
    }
    pages->push_back(page);
  }
  return true;
}

void name_pages(std::vector<SuitePage> *pages) {
  std::unordered_set<std::string> given;
  // Per wanted name, the first suffix not yet known to be taken: the names
  // given only grow, so the suffixes below it stay taken.
  std::unordered_map<std::string, int> next_suffix;
  for (size_t i = 0; i < pages->size(); i++) {
    std::string base = page_name_from((*pages)[i].name, i + 1);
    std::string name = base;
    if (given.count(name)) {
      int &n = next_suffix.try_emplace(base, 2).first->second;
      do name = base + "_" + std::to_string(n++);
      while (given.count(name));
    }
    given.insert(name);
    (*pages)[i].name = name;
  }
}

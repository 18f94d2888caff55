#include "tools/suite/page_rename.h"

namespace {

SuitePage *find_page(std::vector<SuitePage> *pages, const std::string &name) {
  for (SuitePage &p : *pages)
    if (p.name == name) return &p;
  return nullptr;
}

bool rename_one(std::vector<SuitePage> *pages, const std::string &from, const std::string &to,
                std::string *err) {
  SuitePage *page = find_page(pages, from);
  if (!page) {
    *err = "unknown page '" + from + "'";
    return false;
  }
  if (to.empty() || to.find_first_of("\t\r\n") != std::string::npos) {
    *err = "invalid page name '" + to + "'";
    return false;
  }
  SuitePage *holder = find_page(pages, to);
  if (holder && holder != page) {
    *err = "cannot rename page '" + from + "' to '" + to + "': another page has that name";
    return false;
  }
  page->name = to;
  return true;
}

}  // namespace

std::vector<std::string> split_name_list(const std::string &list) {
  std::vector<std::string> names;
  if (list.empty()) return names;
  size_t start = 0;
  while (true) {
    size_t comma = list.find(',', start);
    names.push_back(list.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return names;
    start = comma + 1;
  }
}

bool rename_pages(std::vector<SuitePage> *pages, const std::vector<std::string> &from,
                  const std::vector<std::string> &to, std::string *err) {
  if (from.size() != to.size()) {
    *err = std::to_string(from.size()) + " current names but " + std::to_string(to.size()) +
           " new names";
    return false;
  }
  std::vector<SuitePage> renamed = *pages;
  for (size_t k = 0; k < from.size(); k++)
    if (!rename_one(&renamed, from[k], to[k], err)) return false;
  *pages = renamed;
  return true;
}

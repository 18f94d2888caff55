#include "tools/suite/page_rename.h"

#include <set>
#include <unordered_map>

namespace {

// The positions of the pages of each name, so that the first page of a name
// is found without a scan.
using PagesByName = std::unordered_map<std::string, std::set<size_t>>;

bool rename_one(std::vector<SuitePage> *pages, PagesByName *by_name, const std::string &from,
                const std::string &to, std::string *err) {
  auto holders = by_name->find(from);
  if (holders == by_name->end() || holders->second.empty()) {
    *err = "unknown page '" + from + "'";
    return false;
  }
  size_t page = *holders->second.begin();
  if (to.empty() || to.find_first_of("\t\r\n") != std::string::npos) {
    *err = "invalid page name '" + to + "'";
    return false;
  }
  if (to == from) return true;
  std::set<size_t> &targets = (*by_name)[to];
  if (!targets.empty()) {
    *err = "cannot rename page '" + from + "' to '" + to + "': another page has that name";
    return false;
  }
  (*by_name)[from].erase(page);
  targets.insert(page);
  (*pages)[page].name = to;
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
  PagesByName by_name;
  for (size_t i = 0; i < renamed.size(); i++) by_name[renamed[i].name].insert(i);
  for (size_t k = 0; k < from.size(); k++)
    if (!rename_one(&renamed, &by_name, from[k], to[k], err)) return false;
  *pages = renamed;
  return true;
}

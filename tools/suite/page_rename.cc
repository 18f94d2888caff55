#include "tools/suite/page_rename.h"

#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// The positions of the pages that carry each name the lists mention, so that
// the first page of a name is found without a scan. Only those names are
// looked at: a page list much longer than the lists costs one lookup a page.
using PagesByName = std::unordered_map<std::string_view, std::set<size_t>>;

bool rename_one(PagesByName *by_name, const std::string &from, const std::string &to,
                std::vector<std::pair<size_t, const std::string *>> *renamed, std::string *err) {
  std::set<size_t> &holders = by_name->at(from);
  if (holders.empty()) {
    *err = "unknown page '" + from + "'";
    return false;
  }
  size_t page = *holders.begin();
  if (to.empty() || to.find_first_of("\t\r\n") != std::string::npos) {
    *err = "invalid page name '" + to + "'";
    return false;
  }
  if (to == from) return true;
  std::set<size_t> &targets = by_name->at(to);
  if (!targets.empty()) {
    *err = "cannot rename page '" + from + "' to '" + to + "': another page has that name";
    return false;
  }
  holders.erase(page);
  targets.insert(page);
  renamed->push_back({page, &to});
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
  PagesByName by_name;
  by_name.reserve(from.size() + to.size());
  for (const std::string &name : from) by_name[name];
  for (const std::string &name : to) by_name[name];
  for (size_t i = 0; i < pages->size(); i++) {
    auto holders = by_name.find((*pages)[i].name);
    if (holders != by_name.end()) holders->second.insert(i);
  }
  // The pages change only once every pair has been accepted.
  std::vector<std::pair<size_t, const std::string *>> renamed;
  for (size_t k = 0; k < from.size(); k++)
    if (!rename_one(&by_name, from[k], to[k], &renamed, err)) return false;
  for (const auto &[page, name] : renamed) (*pages)[page].name = *name;
  return true;
}

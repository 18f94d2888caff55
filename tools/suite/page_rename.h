// Renaming the pages of a script, pairwise by position.
#ifndef VT_SUITE_PAGE_RENAME_H_
#define VT_SUITE_PAGE_RENAME_H_

#include <string>
#include <vector>

#include "tools/suite/script_store.h"

// Splits a comma-separated list; the empty text is the empty list.
std::vector<std::string> split_name_list(const std::string &list);

// Renames, in list order, the page named from[k] to to[k]. A name that no
// page carries, a target that another page carries at that moment, an empty
// or tab-holding target, or lists of different lengths fail with *err, and
// then pages is left as it was.
bool rename_pages(std::vector<SuitePage> *pages, const std::vector<std::string> &from,
                  const std::vector<std::string> &to, std::string *err);

#endif  // VT_SUITE_PAGE_RENAME_H_

// The rewrite rules of a replay as its report shows and counts them: the
// header rules of --host and --header and the path rules of --rewrite-path
// (tools/replay/replay_rewrite.h and replay_path_rule.h read and apply them).
#ifndef VT_BASE_FIGURES_REWRITE_RULES_H_
#define VT_BASE_FIGURES_REWRITE_RULES_H_

#include <stdint.h>

#include <string>

struct ReplayHeaderRule {
  std::string name;  // as given
  std::string value;
  bool remove = false;  // --header 'Name:'
};

// Requests in which a rule replaced, added or removed its header.
struct ReplayRewriteTally {
  uint64_t replaced = 0, added = 0, removed = 0;
};

struct ReplayPathRule {
  std::string from, to;  // both begin with '/'
};

#endif  // VT_BASE_FIGURES_REWRITE_RULES_H_

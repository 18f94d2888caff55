#include "tools/replay/replay_path_rule.h"

#include <string_view>

#include "tools/replay/replay_rewrite.h"

namespace {

// Why `part` cannot stand in a request line's target; "" when it can.
std::string path_fault(const char *which, const std::string &part) {
  if (part.empty() || part[0] != '/') return std::string(which) + " must begin with '/'";
  for (unsigned char c : part)
    if (c <= ' ' || c == 0x7f)
      return std::string(which) + " holds a blank or control byte (" +
             replay_escaped(std::string(1, static_cast<char>(c))) + ")";
  return "";
}

// Where the path of `target` begins, or npos when it has none.
size_t path_start(std::string_view target) {
  if (!target.empty() && target[0] == '/') return 0;
  size_t scheme_end = target.find("://");
  if (scheme_end == std::string_view::npos ||
      target.substr(0, scheme_end).find('/') != std::string_view::npos)
    return std::string_view::npos;
  return target.find('/', scheme_end + 3);
}

}  // namespace

bool parse_path_rule(const std::string &text, ReplayPathRule *rule, std::string *error) {
  size_t eq = text.find('=');
  if (eq == std::string::npos) return *error = "expected FROM=TO, such as /old/=/new/", false;
  ReplayPathRule r{text.substr(0, eq), text.substr(eq + 1)};
  if (r.from.empty()) return *error = "FROM is empty: give the prefix to replace", false;
  std::string why = path_fault("FROM", r.from);
  if (why.empty()) why = path_fault("TO", r.to);
  if (!why.empty()) return *error = why, false;
  *rule = r;
  return true;
}

void rewrite_request_path(std::string *head, const std::vector<ReplayPathRule> &rules,
                          uint64_t *tally) {
  std::string_view line(*head);
  line = line.substr(0, line.find("\r\n"));
  size_t first = line.find(' ');
  if (first == std::string_view::npos) return;
  size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return;
  std::string_view target = line.substr(first + 1, second - first - 1);
  size_t at = path_start(target);
  if (at == std::string_view::npos) return;
  std::string_view path = target.substr(at);
  for (size_t r = 0; r < rules.size(); r++) {
    if (path.substr(0, rules[r].from.size()) != rules[r].from) continue;
    head->replace(first + 1 + at, rules[r].from.size(), rules[r].to);
    tally[r]++;
    return;
  }
}

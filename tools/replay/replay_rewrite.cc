#include "tools/replay/replay_rewrite.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

namespace {

bool is_token_char(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string trim(const std::string &s) {
  size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

}  // namespace

bool parse_header_rule(const std::string &text, ReplayHeaderRule *rule, std::string *error) {
  size_t colon = text.find(':');
  if (colon == std::string::npos)
    return fail(error,
                "expected 'Name: value' to add or replace a header, or 'Name:' to remove it");
  std::string name = text.substr(0, colon);
  if (name.empty()) return fail(error, "no header name before the colon");
  for (unsigned char c : name)
    if (!is_token_char(c))
      return fail(error,
                  "'" + name + "' is not a header name (letters, digits and !#$%&'*+-.^_`|~)");
  if (same_name(name, "Content-Length") || same_name(name, "Transfer-Encoding"))
    return fail(error, name + " frames the body, which is sent as the package holds it");
  std::string value = trim(text.substr(colon + 1));
  for (unsigned char c : value) {
    if (c == '\r' || c == '\n') return fail(error, "a header value holds no line break");
    if ((c < ' ' && c != '\t') || c == 0x7f)
      return fail(error, "a header value holds no control character but tab (here " +
                             replay_escaped(std::string(1, static_cast<char>(c))) + ")");
  }
  rule->name = name;
  rule->value = value;
  rule->remove = value.empty();
  return true;
}

std::string replay_escaped(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r' || c == '\n' || c == '\t' || c == '\\') {
      out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\\\";
    } else if (c < ' ' || c == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool host_header_rule(const std::string &host, ReplayHeaderRule *rule, std::string *error) {
  if (host.empty()) return fail(error, "expected a host name");
  for (unsigned char c : host)
    if (c <= ' ' || c == 0x7f)
      return fail(error, "a host name holds no blank or control character");
  rule->name = "Host";
  rule->value = host;
  rule->remove = false;
  return true;
}

void add_header_rule(std::vector<ReplayHeaderRule> *rules, const ReplayHeaderRule &rule) {
  for (ReplayHeaderRule &r : *rules) {
    if (same_name(r.name, rule.name)) {
      r = rule;
      return;
    }
  }
  rules->push_back(rule);
}

size_t request_head_length(const char *text, size_t len) {
  std::string_view s(text, len);
  size_t end = s.find("\r\n\r\n");
  return end == std::string_view::npos ? 0 : end + 4;
}

void rewrite_request_head(std::string_view head, const std::vector<ReplayHeaderRule> &rules,
                          std::string *out, ReplayRewriteTally *tally) {
  out->clear();
  // The head without its empty line, as lines each ending in "\r\n".
  std::string_view lines = head.substr(0, head.size() - 2);
  size_t eol = lines.find("\r\n");
  out->append(lines.substr(0, eol + 2));  // the request line
  size_t at = eol + 2;
  // Per rule: 0 not met yet, 1 replaced, 2 removed.
  std::vector<char> met(rules.size(), 0);
  int current = -1;  // the rule of the header whose continuation lines may follow; -2 none
  while (at < lines.size()) {
    eol = lines.find("\r\n", at);
    std::string_view line = lines.substr(at, eol - at + 2);
    at = eol + 2;
    bool continuation = line[0] == ' ' || line[0] == '\t';
    if (!continuation) {
      size_t colon = line.find(':');
      current = -2;
      if (colon != std::string_view::npos) {
        for (size_t r = 0; r < rules.size(); r++)
          if (same_name(line.substr(0, colon), rules[r].name)) current = static_cast<int>(r);
      }
      if (current >= 0) {
        const ReplayHeaderRule &rule = rules[current];
        if (met[current] == 0) {
          met[current] = rule.remove ? 2 : 1;
          if (rule.remove) {
            tally[current].removed++;
          } else {
            tally[current].replaced++;
            out->append(rule.name).append(": ").append(rule.value).append("\r\n");
          }
        }
        continue;
      }
    } else if (current >= 0) {
      continue;  // a continuation line of a replaced or removed header
    }
    out->append(line);
  }
  for (size_t r = 0; r < rules.size(); r++) {
    if (met[r] != 0 || rules[r].remove) continue;
    tally[r].added++;
    out->append(rules[r].name).append(": ").append(rules[r].value).append("\r\n");
  }
  out->append("\r\n");
}

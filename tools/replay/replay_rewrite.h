// Header rewrites at replay (--host, --header): a request's head is
// recomposed with the rules applied; its body is never touched.
#ifndef VT_TOOLS_REPLAY_REPLAY_REWRITE_H_
#define VT_TOOLS_REPLAY_REPLAY_REWRITE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/figures/rewrite_rules.h"

// Reads "Name: value" (add or replace) or "Name:" (remove). False with
// *error for text without a colon, a name that is no header name, a value
// with a line break or another control character than tab (HTTP allows
// visible characters, blanks and tabs), and for Content-Length and
// Transfer-Encoding, which frame the body.
bool parse_header_rule(const std::string &text, ReplayHeaderRule *rule, std::string *error);

// text for a message, its control characters and backslashes written as
// \r, \n, \t, \xNN and \\: a value that holds a line break shows on one line.
std::string replay_escaped(const std::string &text);

// The rule of --host NAME: Host replaced (or added) with NAME.
bool host_header_rule(const std::string &host, ReplayHeaderRule *rule, std::string *error);

// Adds rule; a later rule for the same name (in any case) takes the place of
// the earlier one.
void add_header_rule(std::vector<ReplayHeaderRule> *rules, const ReplayHeaderRule &rule);

// The length of the head at the start of text: the request line and the
// header lines up to and with the empty line ("\r\n\r\n"); 0 when the empty
// line is not within len bytes.
size_t request_head_length(const char *text, size_t len);

// Writes `head` (as request_head_length measured it) into *out with the rules
// applied: every header of a rule's name (continuation lines included) is
// replaced by one "Name: value" line where the first one stood, or removed; a
// rule whose header is absent adds it before the empty line. tally[i] counts
// for rules[i].
void rewrite_request_head(std::string_view head, const std::vector<ReplayHeaderRule> &rules,
                          std::string *out, ReplayRewriteTally *tally);

#endif  // VT_TOOLS_REPLAY_REPLAY_REWRITE_H_

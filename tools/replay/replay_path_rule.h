// Path rewrites at replay (--rewrite-path FROM=TO): the request line's
// target is given another prefix; the header lines and the body are sent as
// they are.
#ifndef VT_TOOLS_REPLAY_REPLAY_PATH_RULE_H_
#define VT_TOOLS_REPLAY_REPLAY_PATH_RULE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/figures/rewrite_rules.h"

// Reads "FROM=TO" (split at the first '='). False with *error for an empty
// FROM, a FROM or TO that does not begin with '/', and a blank or control
// byte in either, which would break the request line.
bool parse_path_rule(const std::string &text, ReplayPathRule *rule, std::string *error);

// Rewrites the target of the request line that begins `head` (up to its
// "\r\n"): the first rule whose FROM is a byte prefix of the target's path
// (with what follows it: the query) puts its TO in the place of that prefix,
// and counts in tally[r]. The path of an absolute-form target
// (http://host:port/path) begins at its first '/' after the host; a target
// of another form ("*", host:port) and a line without two blanks are left
// alone. Later rules are not tried once one matched.
void rewrite_request_path(std::string *head, const std::vector<ReplayPathRule> &rules,
                          uint64_t *tally);

#endif  // VT_TOOLS_REPLAY_REPLAY_PATH_RULE_H_

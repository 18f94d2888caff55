// "Did you mean ...?": the candidate nearest to a mistyped word.
#ifndef VT_BASE_CORE_NEAREST_WORD_H_
#define VT_BASE_CORE_NEAREST_WORD_H_

#include <string>
#include <vector>

// The candidate fewest edits (insertions, deletions, replacements) away from
// word, when it is near enough: at most two edits, or a third of the
// candidate's letters for longer ones. "" when none is; the first of equals.
std::string nearest_word(const std::string &word, const std::vector<std::string> &candidates);

#endif  // VT_BASE_CORE_NEAREST_WORD_H_

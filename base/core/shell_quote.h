// Quoting of arguments for commands run through the shell.
#ifndef VT_BASE_CORE_SHELL_QUOTE_H_
#define VT_BASE_CORE_SHELL_QUOTE_H_

#include <string>
#include <string_view>

// Returns text as one single-quoted shell word: blanks, quotes, ";", "$(...)"
// and every other character reach the command literally.
std::string vtlb_shell_quote(std::string_view text);

#endif  // VT_BASE_CORE_SHELL_QUOTE_H_

// JSON strings as every program of the package writes them: the text in
// double quotes, UTF-8 kept where it is well formed, '"' and '\' escaped
// with a backslash, and every control byte, DEL and every byte that is not
// part of well-formed UTF-8 written as \u00XX, the code point of its value.
// Texts from the logs and the command line may hold any byte; what is
// written is always valid JSON.
#ifndef VT_BASE_PACKAGE_JSON_STRING_H_
#define VT_BASE_PACKAGE_JSON_STRING_H_

#include <string>
#include <string_view>

std::string json_string(std::string_view text);

#endif  // VT_BASE_PACKAGE_JSON_STRING_H_

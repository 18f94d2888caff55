#include "base/package/json_string.h"

#include <stdint.h>
#include <stdio.h>

namespace {

// Bytes of a well-formed UTF-8 sequence at s (at most n bytes), or 0.
size_t utf8_sequence(const unsigned char *s, size_t n) {
  size_t len = s[0] >= 0xF0 && s[0] <= 0xF4 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 ? 2 : 0;
  if (len == 0 || len > n) return 0;
  for (size_t i = 1; i < len; i++)
    if ((s[i] & 0xC0) != 0x80) return 0;
  uint32_t cp = len == 2   ? (s[0] & 0x1Fu) << 6 | (s[1] & 0x3Fu)
                : len == 3 ? (s[0] & 0x0Fu) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu)
                           : (s[0] & 0x07u) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 |
                                 (s[3] & 0x3Fu);
  bool shortest = len == 2 || (len == 3 && cp >= 0x800) || (len == 4 && cp >= 0x10000);
  if (!shortest || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return len;
}

}  // namespace

std::string json_string(std::string_view text) {
  std::string out = "\"";
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    size_t len = c >= 0x80 ? utf8_sequence(s + i, n - i) : 0;
    if (len) {
      out.append(text.data() + i, len);
      i += len;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
    i++;
  }
  return out + "\"";
}

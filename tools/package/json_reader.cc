#include "tools/package/json_reader.h"

#include <string.h>

namespace {

constexpr int kMaxDepth = 64;

struct Reader {
  const std::string &text;
  size_t at = 0;
  std::string error;

  bool fail(const std::string &what) {
    if (!error.empty()) return false;
    size_t line = 1, column = 1;
    for (size_t i = 0; i < at && i < text.size(); i++) {
      if (text[i] == '\n') {
        line++;
        column = 1;
      } else {
        column++;
      }
    }
    error = "line " + std::to_string(line) + " column " + std::to_string(column) + ": " + what;
    return false;
  }
  bool done() const { return at >= text.size(); }
  char peek() const { return done() ? '\0' : text[at]; }
  void skip_space() {
    while (!done() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
      at++;
  }
};

bool read_value(Reader &r, JsonValue *v, int depth);

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool read_literal(Reader &r, const char *word, JsonValue::Kind kind, bool value, JsonValue *v) {
  size_t n = strlen(word);
  if (r.text.compare(r.at, n, word) != 0) return r.fail("unexpected text");
  r.at += n;
  v->kind = kind;
  v->boolean = value;
  return true;
}

bool read_number(Reader &r, JsonValue *v) {
  size_t start = r.at;
  if (r.peek() == '-') r.at++;
  if (r.peek() == '0') {
    r.at++;
  } else if (is_digit(r.peek())) {
    while (is_digit(r.peek())) r.at++;
  } else {
    return r.fail("a number needs a digit");
  }
  if (r.peek() == '.') {
    r.at++;
    if (!is_digit(r.peek())) return r.fail("a digit must follow the decimal point");
    while (is_digit(r.peek())) r.at++;
  }
  if (r.peek() == 'e' || r.peek() == 'E') {
    r.at++;
    if (r.peek() == '+' || r.peek() == '-') r.at++;
    if (!is_digit(r.peek())) return r.fail("a digit must follow the exponent");
    while (is_digit(r.peek())) r.at++;
  }
  v->kind = JsonValue::kNumber;
  v->text = r.text.substr(start, r.at - start);
  return true;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool read_hex4(Reader &r, uint32_t *cp) {
  if (r.text.size() - r.at < 4) return r.fail("\\u needs four hexadecimal digits");
  *cp = 0;
  for (int i = 0; i < 4; i++) {
    int h = hex_value(r.text[r.at + i]);
    if (h < 0) return r.fail("\\u needs four hexadecimal digits");
    *cp = *cp << 4 | static_cast<uint32_t>(h);
  }
  r.at += 4;
  return true;
}

void append_utf8(uint32_t cp, std::string *out) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | cp >> 6);
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | cp >> 12);
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | cp >> 18);
    *out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A string from its opening quote; the text goes to *out.
bool read_string(Reader &r, std::string *out) {
  r.at++;  // the quote
  out->clear();
  for (;;) {
    if (r.done()) return r.fail("the string does not end");
    char c = r.text[r.at];
    if (c == '"') {
      r.at++;
      return true;
    }
    if (static_cast<unsigned char>(c) < 0x20) return r.fail("a control character in a string");
    if (c != '\\') {
      *out += c;
      r.at++;
      continue;
    }
    r.at++;
    char e = r.peek();
    r.at++;
    switch (e) {
      case '"':
      case '\\':
      case '/':
        *out += e;
        break;
      case 'b':
        *out += '\b';
        break;
      case 'f':
        *out += '\f';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      case 't':
        *out += '\t';
        break;
      case 'u': {
        uint32_t cp;
        if (!read_hex4(r, &cp)) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF && r.text.compare(r.at, 2, "\\u") == 0) {
          size_t back = r.at;
          r.at += 2;
          uint32_t low;
          if (!read_hex4(r, &low)) return false;
          if (low >= 0xDC00 && low <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          else
            r.at = back;
        }
        append_utf8(cp, out);
        break;
      }
      default:
        r.at -= 2;
        return r.fail("an unknown escape in a string");
    }
  }
}

bool read_array(Reader &r, JsonValue *v, int depth) {
  r.at++;
  v->kind = JsonValue::kArray;
  r.skip_space();
  if (r.peek() == ']') {
    r.at++;
    return true;
  }
  for (;;) {
    v->items.emplace_back();
    if (!read_value(r, &v->items.back(), depth + 1)) return false;
    r.skip_space();
    if (r.peek() == ']') {
      r.at++;
      return true;
    }
    if (r.peek() != ',') return r.fail("expected , or ] in an array");
    r.at++;
  }
}

bool read_object(Reader &r, JsonValue *v, int depth) {
  r.at++;
  v->kind = JsonValue::kObject;
  r.skip_space();
  if (r.peek() == '}') {
    r.at++;
    return true;
  }
  for (;;) {
    r.skip_space();
    if (r.peek() != '"') return r.fail("expected a member name in quotes");
    std::string key;
    if (!read_string(r, &key)) return false;
    r.skip_space();
    if (r.peek() != ':') return r.fail("expected : after a member name");
    r.at++;
    v->members.emplace_back(key, JsonValue{});
    if (!read_value(r, &v->members.back().second, depth + 1)) return false;
    r.skip_space();
    if (r.peek() == '}') {
      r.at++;
      return true;
    }
    if (r.peek() != ',') return r.fail("expected , or } in an object");
    r.at++;
  }
}

bool read_value(Reader &r, JsonValue *v, int depth) {
  if (depth > kMaxDepth) return r.fail("nested deeper than 64");
  r.skip_space();
  switch (r.peek()) {
    case '{':
      return read_object(r, v, depth);
    case '[':
      return read_array(r, v, depth);
    case '"':
      v->kind = JsonValue::kString;
      return read_string(r, &v->text);
    case 't':
      return read_literal(r, "true", JsonValue::kBool, true, v);
    case 'f':
      return read_literal(r, "false", JsonValue::kBool, false, v);
    case 'n':
      return read_literal(r, "null", JsonValue::kNull, false, v);
    case '\0':
      if (r.done()) return r.fail("a value is missing");
      return r.fail("unexpected text");
    default:
      return read_number(r, v);
  }
}

}  // namespace

bool json_parse(const std::string &text, JsonValue *out, std::string *error) {
  Reader r{text, 0, {}};
  *out = JsonValue{};
  if (!read_value(r, out, 1)) {
    *error = r.error;
    return false;
  }
  r.skip_space();
  if (!r.done()) {
    r.fail("text after the value");
    *error = r.error;
    return false;
  }
  return true;
}

const JsonValue *json_member(const JsonValue &value, const char *key) {
  if (value.kind != JsonValue::kObject) return nullptr;
  for (size_t i = value.members.size(); i-- > 0;)
    if (value.members[i].first == key) return &value.members[i].second;
  return nullptr;
}

bool json_u64(const JsonValue *value, uint64_t *out) {
  if (!value || value->kind != JsonValue::kNumber) return false;
  const std::string &t = value->text;
  if (t.empty() || t.size() > 20 || t.find_first_not_of("0123456789") != std::string::npos)
    return false;
  uint64_t n = 0;
  for (char c : t) {
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10) return false;
    n = n * 10 + d;
  }
  *out = n;
  return true;
}

bool json_text(const JsonValue *value, std::string *out) {
  if (!value || value->kind != JsonValue::kString) return false;
  *out = value->text;
  return true;
}

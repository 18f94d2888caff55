#include "base/package/json_read.h"

#include <stdio.h>

bool parse_json(const std::string &text, Json *out, std::string *error) {
  try {
    *out = Json::parse(text);
    return true;
  } catch (const Json::exception &e) {
    // "[json.exception.parse_error.101] parse error at line 1, column 9: ...;
    // last read: '...'": the reason, without the tag or the bytes read.
    std::string what = e.what();
    size_t tag = what.find("] ");
    if (tag != std::string::npos) what.erase(0, tag + 2);
    size_t last = what.find("; last read");
    if (last != std::string::npos) what.erase(last);
    unsigned line, column;
    int used = 0;
    if (sscanf(what.c_str(), "parse error at line %u, column %u: %n", &line, &column, &used) == 2 &&
        used > 0)
      what = "line " + std::to_string(line) + " column " + std::to_string(column) + ": " +
             what.substr(static_cast<size_t>(used));
    *error = what;
    return false;
  }
}

bool json_count(const Json &v, uint64_t *out) {
  if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0)) return false;
  *out = v.get<uint64_t>();
  return true;
}

// "\"key\" must WHAT", built by appending (the optimiser warns, wrongly, on
// a chain of + that starts with a short literal).
static std::string key_must(const char *key, const std::string &what) {
  std::string text = "\"";
  text += key;
  text += "\" must ";
  text += what;
  return text;
}

bool JsonFields::fail(const std::string &what) {
  if (error->empty()) *error = (where.empty() ? "" : where + ": ") + what;
  return false;
}

const Json *JsonFields::member(const char *key) const {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string JsonFields::text(const char *key) {
  const Json *v = member(key);
  if (v && v->is_string()) return v->get<std::string>();
  fail(key_must(key, "be a string"));
  return "";
}

uint64_t JsonFields::count(const char *key) {
  uint64_t n = 0;
  const Json *v = member(key);
  if (!v || !json_count(*v, &n)) fail(key_must(key, "be a count"));
  return n;
}

uint64_t JsonFields::count_up_to(const char *key, uint64_t limit) {
  uint64_t n = 0;
  const Json *v = member(key);
  if (!v || !json_count(*v, &n) || n > limit) {
    fail(key_must(key, "be a whole number up to " + std::to_string(limit)));
    return 0;
  }
  return n;
}

int64_t JsonFields::whole(const char *key) {
  const Json *v = member(key);
  if (v && v->is_null()) return -1;
  if (v && v->is_number_integer() && (!v->is_number_unsigned() || v->get<uint64_t>() <= INT64_MAX))
    return v->get<int64_t>();
  fail(key_must(key, "be a whole number"));
  return 0;
}

double JsonFields::real(const char *key) {
  const Json *v = member(key);
  if (v && v->is_number()) return v->get<double>();
  fail(key_must(key, "be a number"));
  return 0;
}

const Json *JsonFields::list(const char *key) {
  const Json *v = member(key);
  if (v && v->is_array()) return v;
  fail(key_must(key, "be a list"));
  return nullptr;
}

const Json *JsonFields::object_of(const char *key) {
  const Json *v = member(key);
  if (v && v->is_object()) return v;
  fail(key_must(key, "be an object"));
  return nullptr;
}

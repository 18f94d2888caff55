// A small JSON reader for the files the tools write for one another (the
// package manifest): the whole text into a tree of values. Numbers are kept
// as written, so that 64-bit counts read back exactly.
#ifndef VT_PACKAGE_JSON_READER_H_
#define VT_PACKAGE_JSON_READER_H_

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = kNull;
  bool boolean = false;
  std::string text;                                         // a string, or a number as written
  std::vector<JsonValue> items;                             // an array
  std::vector<std::pair<std::string, JsonValue>> members;  // an object, in order
};

// Reads text, which must hold one JSON value and nothing but white space
// around it. False with *error naming the line and column of the fault.
// Arrays and objects nest at most 64 deep.
bool json_parse(const std::string &text, JsonValue *out, std::string *error);

// The member key of an object, or null when value is no object or lacks it.
// When a key appears twice, the last one counts.
const JsonValue *json_member(const JsonValue &value, const char *key);

// A number that is a whole number from 0 to 2^64 - 1, written without
// fraction or exponent. False otherwise (also for a null pointer).
bool json_u64(const JsonValue *value, uint64_t *out);

// A string value. False when value is null or no string.
bool json_text(const JsonValue *value, std::string *out);

#endif  // VT_PACKAGE_JSON_READER_H_

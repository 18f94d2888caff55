// Reading JSON for the files the programs write for one another (the
// manifest, vt_replay's reports), through nlohmann::json: the parse, and the
// members of an object with the message of the first that is missing or of
// the wrong type.
#ifndef VT_BASE_PACKAGE_JSON_READ_H_
#define VT_BASE_PACKAGE_JSON_READ_H_

#include <stdint.h>

#include <nlohmann/json.hpp>
#include <string>

using Json = nlohmann::json;

// Parses text, which must be one JSON value in UTF-8. False with *error
// naming the line and column of the fault.
bool parse_json(const std::string &text, Json *out, std::string *error);

// The members of one object. Each getter returns the value, or a zero value
// after noting in *error (the first fault only) "<where>: "<key>" must be
// <what>"; ok() tells whether all went well.
struct JsonFields {
  const Json &object;
  std::string where;  // "", "files[2]", ...
  std::string *error;

  bool ok() const { return error->empty(); }
  bool fail(const std::string &what);
  const Json *member(const char *key) const;  // null when absent (or no object)
  std::string text(const char *key);
  uint64_t count(const char *key);  // a whole number from 0 to 2^64-1
  uint64_t count_up_to(const char *key, uint64_t limit);
  int64_t whole(const char *key);  // a whole number of 64 bits, or null (-1)
  double real(const char *key);
  const Json *list(const char *key);  // an array, or null after the fault
  const Json *object_of(const char *key);
};

// A count from a value that may be of any type: false when it is not one.
bool json_count(const Json &v, uint64_t *out);

#endif  // VT_BASE_PACKAGE_JSON_READ_H_

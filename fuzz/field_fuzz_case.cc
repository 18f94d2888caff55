// The field scanners over arbitrary text (declared in fuzz_cases.h).
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz/fuzz_cases.h"
#include "tools/replay_gen/loader/field_extract.h"
#include "tools/replay_gen/records.h"

namespace {

using Buffer = std::unique_ptr<char, decltype(&free)>;

// A heap copy of exactly the text and a NUL: reading past it shows under AddressSanitizer.
Buffer copy_of(const std::string &text) {
  Buffer copy(static_cast<char *>(malloc(text.size() + 1)), free);
  memcpy(copy.get(), text.data(), text.size());
  copy.get()[text.size()] = '\0';
  return copy;
}

// extract_uid leaves the line alone (-1, -2) or cuts it at a "</" after the element name.
std::string check_uid(const std::string &line, const std::string &tag) {
  Buffer buf = copy_of(line);
  const char *tag_arg = tag.empty() ? nullptr : tag.c_str();
  int64_t uid = extract_uid(LogGates{}, buf.get(), tag_arg);
  size_t text_len = strlen(line.c_str());
  if ((uid == kUidNoText) != (text_len == 0))
    return fuzz_failure("extract_uid gave %ld for a text of %zu bytes", long(uid), text_len);
  if (uid == kUidNotOnLine || uid == kUidNoText) {
    if (memcmp(buf.get(), line.data(), line.size()) != 0) return "extract_uid changed the line";
    return "";
  }
  if (uid < kUidEmptyElement) return fuzz_failure("extract_uid gave %ld", long(uid));
  size_t cut = strlen(buf.get());
  if (cut >= text_len || line[cut] != '<' || line[cut + 1] != '/' ||
      memcmp(buf.get(), line.data(), cut) != 0 ||
      memcmp(buf.get() + cut + 1, line.data() + cut + 1, line.size() - cut - 1) != 0)
    return fuzz_failure("extract_uid cut the line at %zu", cut);
  size_t name_at = line.find(tag_arg ? tag_arg : "XACustId");
  if (name_at == std::string::npos || name_at >= cut)
    return "extract_uid found a value without its element name before it";
  if (uid == kUidEmptyElement && line[cut - 1] != '>') return "empty value that is not empty";
  return "";
}

// A value found lies inside the text and holds none of its delimiters.
std::string check_element_value(const std::string &line, const char *name, int32_t *offset,
                                int32_t *length, bool *found) {
  Buffer buf = copy_of(line);
  *found = get_xml_element_value(LogGates{}, buf.get(), name, offset, length) == 0;
  if (!*found) return "";
  size_t text_len = strlen(buf.get());
  if (!*name || !strstr(buf.get(), name)) return "get_xml_element_value found a missing name";
  if (*offset < 0 || *length < 0 || size_t(*offset) + size_t(*length) > text_len)
    return fuzz_failure("value %d+%d outside a text of %zu bytes", *offset, *length, text_len);
  for (int32_t i = 0; i < *length; i++)
    if (strchr(" \t/<", buf.get()[*offset + i])) return "value holds a delimiter";
  return "";
}

// extract_creation_timestamp records the value's place from the body start, or nothing.
std::string check_creation_timestamp(const std::string &line, uint64_t before) {
  int32_t offset = 0, length = 0;
  bool found = false;
  std::string why = check_element_value(line, "creationTimestamp", &offset, &length, &found);
  if (!why.empty()) return why;
  Buffer buf = copy_of(line);
  SeqData records[2] = {};
  records[1].req_size = before + line.size();
  const SeqData untouched = records[1];
  uint64_t seq_no = 1;
  int16_t flags = 0;
  int32_t result = extract_creation_timestamp(LogGates{}, buf.get(), &seq_no, records,
                                              static_cast<int32_t>(line.size()), &flags);
  const SeqData &s = records[1];
  if (result == 0) {
    if (!found || s.type != '1' || s.creation_ts_offset != before + offset ||
        s.creation_ts_size != length || !(flags & 1))
      return "creation timestamp recorded wrongly";
  } else if (found && before + offset <= UINT32_MAX && length <= INT16_MAX) {
    return "creation timestamp not recorded";
  } else if (flags || memcmp(&s, &untouched, sizeof s) != 0) {
    return "creation timestamp search changed the record";
  }
  static const SeqData kClear{};
  return memcmp(&records[0], &kClear, sizeof kClear) ? "another record changed" : "";
}

// get_service_name_from_url restores the URL and writes a name without "/" inside its buffer.
std::string check_service_name(const std::string &line, size_t name_size) {
  std::string url = line.c_str();
  Buffer buf = copy_of(url);
  Buffer name(static_cast<char *>(malloc(name_size ? name_size : 1)), free);
  name.get()[0] = 'x';
  get_service_name_from_url(LogGates{}, buf.get(), name.get(), name_size);
  if (url != buf.get()) return "the URL was not restored";
  if (name_size == 0) return name.get()[0] == 'x' ? "" : "a name written into no room";
  size_t len = strnlen(name.get(), name_size);
  if (len == name_size) return "the name is not terminated inside its buffer";
  if (len > url.size()) return "the name is longer than the URL";
  if (strchr(name.get(), '/')) return "the name holds a slash";
  return "";
}

// read_decimal gives what strtod gives, also where its fast path applies.
std::string check_decimal(const std::string &line) {
  Buffer buf = copy_of(line);
  double fast = read_decimal(buf.get()), slow = strtod(buf.get(), nullptr);
  if (fast == slow || (fast != fast && slow != slow)) return "";
  return fuzz_failure("read_decimal gave %.17g where strtod gives %.17g", fast, slow);
}

}  // namespace

std::string run_field_fuzz_case(const uint8_t *data, size_t size) {
  if (size < 2) return "";
  const char *rest = reinterpret_cast<const char *>(data + 2);
  size_t rest_len = size - 2;
  const char *nl = static_cast<const char *>(memchr(rest, '\n', rest_len));
  size_t tag_len = nl ? nl - rest : rest_len;
  std::string tag(rest, tag_len);
  tag = tag.c_str();  // the name is a C string
  std::string line = nl ? std::string(nl + 1, rest + rest_len) : std::string();
  size_t name_size = data[0] == 255 ? strlen(line.c_str()) + 1 : data[0];
  uint64_t before = data[1] * 4099ull;

  std::string why = check_uid(line, tag);
  int32_t offset = 0, length = 0;
  bool found = false;
  if (why.empty()) why = check_element_value(line, tag.c_str(), &offset, &length, &found);
  if (why.empty()) why = check_creation_timestamp(line, before);
  if (why.empty()) why = check_service_name(line, name_size);
  if (why.empty()) why = check_decimal(line);
  return why;
}

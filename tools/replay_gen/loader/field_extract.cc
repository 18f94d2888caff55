#include "tools/replay_gen/loader/field_extract.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/log.h"

namespace {

constexpr const char *kDefaultUidTag = "XACustId";
constexpr const char *kUidLb = ">";
constexpr const char *kUidRb = "</";
constexpr const char *kCreationTsTag = "creationTimestamp";
constexpr const char *kXmlnsPrefix = "xmlns:";

// atol's reading (white space, sign, digits up to the first non-digit), but a
// negative value or one beyond the signed 64-bit range gives 0.
int64_t read_customer_id(const char *text) {
  while (isspace(static_cast<unsigned char>(*text))) text++;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  uint64_t value = 0;
  constexpr uint64_t kMax = INT64_MAX;
  for (; *text >= '0' && *text <= '9'; text++) {
    uint64_t digit = static_cast<uint64_t>(*text - '0');
    if (value > (kMax - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return negative ? 0 : static_cast<int64_t>(value);
}

const char *skip_blanks_and_gt(const char *p) {
  while (*p == ' ' || *p == '\t' || *p == '>') p++;
  return p;
}

}  // namespace

int64_t extract_uid(const LogGates &log, char *buf_ptr, const char *indexing_tag) {
  if (!buf_ptr || !*buf_ptr) return kUidNoText;
  const char *tag = indexing_tag && *indexing_tag ? indexing_tag : kDefaultUidTag;
  if (log.debug_level) debug_log(log, 2, "extract_uid", "Method called, cust_id tag = %s", tag);
  char *found = strstr(buf_ptr, tag);
  if (!found) {
    if (log.debug_level) debug_log(log, 4, "extract_uid", "%s not found in request", tag);
    return kUidNotOnLine;
  }
  char *lb = strstr(found, kUidLb);
  if (!lb) {
    if (log.debug_level)
      debug_log(log, 4, "extract_uid", "UID_LB %s not found in buffer %s\n", kUidLb, buf_ptr);
    return kUidNotOnLine;
  }
  lb++;
  char *rb = strstr(lb, kUidRb);
  if (!rb) {
    if (log.debug_level)
      debug_log(log, 4, "extract_uid", "UID_RB %s not found in buffer %s\n", kUidRb, buf_ptr);
    return kUidNotOnLine;
  }
  *rb = '\0';
  if (log.debug_level) debug_log(log, 4, "extract_uid", "lb_ptr = %s\n", lb);
  if (rb == lb) return kUidEmptyElement;
  return read_customer_id(lb);
}

int32_t get_xml_element_value(const LogGates &log, const char *xml, const char *name,
                              int32_t *offset, int32_t *length) {
  if (!xml || !*xml || !name || !*name) return -1;
  const char *p = strstr(xml, name);
  if (!p) return -1;
  p = skip_blanks_and_gt(p + strlen(name));
  size_t prefix_len = strlen(kXmlnsPrefix);
  while (strncmp(p, kXmlnsPrefix, prefix_len) == 0) {
    p += prefix_len;
    p += strcspn(p, " \t>");
    p = skip_blanks_and_gt(p);
  }
  size_t value_len = strcspn(p, " \t/<");
  *offset = static_cast<int32_t>(p - xml);
  *length = static_cast<int32_t>(value_len);
  if (log.debug_level)
    debug_log(log, 4, "get_xml_element_value", "offset = %d, length = %d\n", *offset, *length);
  return 0;
}

int32_t extract_creation_timestamp(const LogGates &log, char *buff, const uint64_t *seq_no,
                                   SeqData *l_seq_data_arr, int32_t line_len,
                                   int16_t *req_mod_flag) {
  if (log.debug_level)
    debug_log(log, 4, "extract_creation_timestamp",
              "Method Called. buff = %s seq_no = %lu req_size = %d\n", buff, *seq_no, line_len);
  int32_t offset = 0, length = 0;
  if (get_xml_element_value(log, buff, kCreationTsTag, &offset, &length) != 0) return -1;
  SeqData &slot = l_seq_data_arr[*seq_no];
  uint64_t body_offset = slot.req_size - static_cast<uint64_t>(line_len) + offset;
  if (body_offset > UINT32_MAX || length > INT16_MAX) return -1;
  slot.type = '1';
  slot.creation_ts_offset = static_cast<uint32_t>(body_offset);
  slot.creation_ts_size = static_cast<int16_t>(length);
  *req_mod_flag |= 1;
  return 0;
}

void get_service_name_from_url(const LogGates &log, char *URL, char *service_name,
                               size_t name_size) {
  if (name_size == 0) return;
  char *query = strchr(URL, '?');
  if (query) *query = '\0';

  const char *path = URL;
  const char *name = URL;
  size_t scheme_len = strncmp(URL, "http://", 7) == 0    ? 7
                      : strncmp(URL, "https://", 8) == 0 ? 8
                                                         : 0;
  if (scheme_len) {
    const char *host_end = strlen(URL) > 8 ? strchr(URL + 8, '/') : nullptr;
    if (host_end) path = host_end + 1;
  }
  // Every record, whatever the log gates say; control bytes of the log show
  // escaped, never reaching the terminal as they are.
  console_printf(log, "url - %s\n", printable_text(path).c_str());

  size_t path_len = strlen(path);
  if (path_len == 0) {
    // Nothing after the host: the host and its slash make the name.
    name = path != URL ? URL + scheme_len : path;
  } else {
    name = path;
    int slashes = 0;
    for (const char *p = path + path_len - 1; p > path; p--) {
      if (*p == '/' && ++slashes == 2) {
        name = p + 1;
        break;
      }
    }
  }

  // A comma would split the name in the script's renaming lists, and a
  // control byte is no page name: both become "_", as "/" does.
  size_t i = 0;
  for (; name[i] && i + 1 < name_size; i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    service_name[i] = c == '/' || c == ',' || c < 0x20 || c == 0x7f ? '_' : name[i];
  }
  service_name[i] = '\0';
  if (query) *query = '?';
}

double read_decimal(const char *text) {
  // Fifteen digits stay below 2^53, so the double holds the integer exactly,
  // which is what strtod returns for it.
  constexpr int kExactDigits = 15;
  uint64_t value = 0;
  int digits = 0;
  while (digits <= kExactDigits && text[digits] >= '0' && text[digits] <= '9')
    value = value * 10 + static_cast<uint64_t>(text[digits++] - '0');
  char next = text[digits];
  bool plain = digits > 0 && digits <= kExactDigits &&
               (next == '\0' || next == '\n' || next == '\r' || next == ' ' || next == '\t');
  return plain ? static_cast<double>(value) : strtod(text, nullptr);
}

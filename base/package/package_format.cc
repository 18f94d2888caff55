#include "base/package/package_format.h"

#include <string.h>

#include <charconv>

#include "base/core/decimal.h"

const char kManifestName[] = "vt_manifest.json";
const char kIndexHeader[] =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";
const size_t kIndexHeaderSize = sizeof kIndexHeader - 1;

namespace {

template <typename T>
void append_number(T value, std::string *line) {
  char digits[24];
  char *end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  line->append(digits, static_cast<size_t>(end - digits));
}

// The digits at s that make a number of 64 bits, or 0 with *fault set.
size_t read_number(const char *s, size_t len, uint64_t *v, std::string *fault) {
  bool big = false;
  size_t n = vtlb_read_u64(s, len, v, &big);
  if (big) {
    size_t shown = n > 40 ? 40 : n;
    *fault = "number " + std::string(s, shown) + (n > 40 ? "..." : "") +
             " is too large (above 18446744073709551615)";
    return 0;
  }
  if (n == 0) *fault = "unreadable group";
  return n;
}

}  // namespace

std::string request_file_name(int worker) {
  return "vt_req_" + std::to_string(worker);
}

std::string index_file_name(int worker) {
  return "vt_index_" + std::to_string(worker);
}

int worker_of_file_name(const char *name, bool *index) {
  const char *digits = nullptr;
  if (strncmp(name, "vt_req_", 7) == 0) digits = name + 7, *index = false;
  if (strncmp(name, "vt_index_", 9) == 0) digits = name + 9, *index = true;
  size_t n = digits ? strspn(digits, "0123456789") : 0;
  if (n == 0 || n > 4 || digits[n] || (n > 1 && digits[0] == '0')) return -1;
  return atoi(digits);
}

bool is_error_log_name(const char *name) {
  return strncmp(name, "error.log.", 10) == 0 && name[10] &&
         strspn(name + 10, "0123456789") == strlen(name + 10);
}

void start_index_line(uint64_t user_id, int worker, std::string *line) {
  char id[24];
  char *end = std::to_chars(id, id + sizeof id, user_id).ptr;
  size_t id_len = static_cast<size_t>(end - id);
  line->assign(id_len < 9 ? 9 - id_len : 0, '0');
  line->append(id, id_len);
  line->append(",vt_req_");
  append_number(worker, line);
}

void append_index_group(const IndexGroup &g, std::string *line) {
  line->push_back(',');
  append_number(g.time_ms, line);
  line->push_back(',');
  append_number(g.page_id, line);
  line->push_back(',');
  append_number(g.offset, line);
  line->push_back(',');
  append_number(g.size, line);
  if (g.ts_type) {
    line->push_back('|');
    line->push_back(g.ts_type);
    line->push_back(':');
    append_number(g.ts_offset, line);
    line->push_back(':');
    append_number(g.ts_size, line);
  }
}

size_t parse_index_group(const char *s, size_t len, IndexGroup *g, std::string *fault) {
  *g = IndexGroup{};
  size_t i = 0, n;
  auto sep = [&](char c) {
    if (i >= len || s[i] != c) return *fault = "unreadable group", false;
    i++;
    return true;
  };
  auto number = [&](uint64_t *v) {
    n = read_number(s + i, len - i, v, fault);
    i += n;
    return n != 0;
  };
  if (!sep(',') || !number(&g->time_ms) || !sep(',')) return 0;
  bool negative = i < len && s[i] == '-';
  uint64_t page;
  i += negative;
  if (!number(&page)) return 0;
  if (page > INT32_MAX + uint64_t{negative}) {
    *fault =
        "page id " + std::string(negative ? "-" : "") + std::to_string(page) + " is beyond 32 bits";
    return 0;
  }
  g->page_id = negative ? -static_cast<int64_t>(page) : static_cast<int64_t>(page);
  if (!sep(',') || !number(&g->offset) || !sep(',') || !number(&g->size)) return 0;
  if (i < len && s[i] == '|') {
    i++;
    if (i + 1 >= len || s[i + 1] != ':') return *fault = "unreadable group", 0;
    g->ts_type = s[i];
    i += 2;
    if (!number(&g->ts_offset) || !sep(':') || !number(&g->ts_size)) return 0;
  }
  if (i < len && s[i] != ',' && s[i] != '\n') return *fault = "unreadable group", 0;
  if (g->time_ms > kMaxClockMs) {
    *fault = "send time " + std::to_string(g->time_ms) + " ms lies beyond the year 9999";
    return 0;
  }
  return i;
}

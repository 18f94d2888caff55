// REQ_TOP_LINE, HTTP_HEADER and SCENARIO_KEYWORD collect every value given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/records.h"

namespace {

// Appends value and line_end to the heap text, keeping it NUL-terminated.
void append_value(char **text, int32_t *len, const char *value, const char *line_end,
                  const char *table_name, const char *fname) {
  int64_t value_len = static_cast<int64_t>(strlen(value));
  int64_t end_len = static_cast<int64_t>(strlen(line_end));
  // The size is a 32-bit count: a text that outgrows it shows as not positive.
  int32_t size = static_cast<int32_t>(static_cast<uint32_t>(*len + value_len + end_len + 1));
  if (size <= 0) {
    error_log(1, fname, "Trying to realloc a negative or 0 size (%d) for index  %d", size, -1);
    vt_exit(-1);
  }
  char *grown = static_cast<char *>(realloc(*text, size));
  if (!grown) {
    error_log(1, fname, "Out of Memory: %s (size = %d) for index %d", table_name, size, -1);
    vt_exit(-1);
  }
  *text = grown;
  memcpy(grown + *len, value, value_len);
  memcpy(grown + *len + value_len, line_end, end_len);
  *len = size - 1;
  grown[*len] = '\0';
}

}  // namespace

void set_req_top_line(const char *top_line) {
  if (debug_level)
    debug_log(4, "set_req_top_line", "Method called. req_top_line_len = %d, top_line = %s",
              req_top_line_len, top_line);
  append_value(&req_top_line, &req_top_line_len, top_line, "\n", "HTTP Header", "set_req_top_line");
  if (debug_level)
    debug_log(4, "set_req_top_line", "req_top_line_len = %d, req_top_line(s) = %s",
              req_top_line_len, req_top_line);
}

void set_http_header(const char *header_line) {
  append_value(&http_header, &http_header_len, header_line, "\r\n", "HTTP Header",
               "set_http_header");
  if (debug_level)
    debug_log(3, "set_http_header", "http_header_len = %d, http_header(s) = %s", http_header_len,
              http_header);
}

void set_scenario_keyword(const char *kw_line) {
  append_value(&scenario_keyword, &scenario_keyword_len, kw_line, "\n", "Scenario Keyword",
               "set_scenario_keyword");
  if (debug_level)
    debug_log(3, "set_scenario_keyword", "scenario_keyword_len = %d, scenario_keyword(s) = %s",
              scenario_keyword_len, scenario_keyword);
}

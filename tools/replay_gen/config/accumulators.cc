// REQ_TOP_LINE, HTTP_HEADER and SCENARIO_KEYWORD collect every value given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

void set_req_top_line(const char *top_line) {
  if (run.log.debug_level)
    debug_log(run.log, 4, "set_req_top_line", "Method called. req_top_line_len = %d, top_line = %s",
              run.config.req_top_line_len, top_line);
  append_text(&run.config.req_top_line, &run.config.req_top_line_len, top_line, "\n", "HTTP Header",
              "set_req_top_line");
  if (run.log.debug_level)
    debug_log(run.log, 4, "set_req_top_line", "req_top_line_len = %d, req_top_line(s) = %s",
              run.config.req_top_line_len, run.config.req_top_line);
}

void set_http_header(const char *header_line) {
  append_text(&run.config.http_header, &run.config.http_header_len, header_line, "\r\n",
              "HTTP Header", "set_http_header");
  if (run.log.debug_level)
    debug_log(run.log, 3, "set_http_header", "http_header_len = %d, http_header(s) = %s",
              run.config.http_header_len, run.config.http_header);
}

void set_scenario_keyword(const char *kw_line) {
  append_text(&run.config.scenario_keyword, &run.config.scenario_keyword_len, kw_line, "\n",
              "Scenario Keyword", "set_scenario_keyword");
  if (run.log.debug_level)
    debug_log(run.log, 3, "set_scenario_keyword",
              "scenario_keyword_len = %d, scenario_keyword(s) = %s",
              run.config.scenario_keyword_len, run.config.scenario_keyword);
}

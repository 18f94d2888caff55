// REQ_TOP_LINE, HTTP_HEADER and SCENARIO_KEYWORD collect every value given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/log.h"

bool set_req_top_line(RunState &run, const char *top_line, Failure *err) {
  RunConfig &c = run.config;
  if (run.log.debug_level)
    debug_log(run.log, 4, "set_req_top_line", "Method called. req_top_line_len = %d, top_line = %s",
              c.req_top_line_len, top_line);
  if (!append_text(&c.req_top_line, &c.req_top_line_len, top_line, "\n", "HTTP Header",
                   "set_req_top_line", err))
    return false;
  if (run.log.debug_level)
    debug_log(run.log, 4, "set_req_top_line", "req_top_line_len = %d, req_top_line(s) = %s",
              c.req_top_line_len, c.req_top_line);
  return true;
}

bool set_http_header(RunState &run, const char *header_line, Failure *err) {
  RunConfig &c = run.config;
  if (!append_text(&c.http_header, &c.http_header_len, header_line, "\r\n", "HTTP Header",
                   "set_http_header", err))
    return false;
  if (run.log.debug_level)
    debug_log(run.log, 3, "set_http_header", "http_header_len = %d, http_header(s) = %s",
              c.http_header_len, c.http_header);
  return true;
}

bool set_scenario_keyword(RunState &run, const char *kw_line, Failure *err) {
  RunConfig &c = run.config;
  if (!append_text(&c.scenario_keyword, &c.scenario_keyword_len, kw_line, "\n", "Scenario Keyword",
                   "set_scenario_keyword", err))
    return false;
  if (run.log.debug_level)
    debug_log(run.log, 3, "set_scenario_keyword",
              "scenario_keyword_len = %d, scenario_keyword(s) = %s", c.scenario_keyword_len,
              c.scenario_keyword);
  return true;
}

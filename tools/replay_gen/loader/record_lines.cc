// Handlers of the header-section lines: RequestTimeEx, the SOAP action lines
// and URL.
#include <ctype.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/helpers.h"
#include "tools/replay_gen/loader/field_extract.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFn = trace_name::kLoadSequenceFile;

// A time part: leading white space, then a decimal number, read as the C
// library reads one (a leading sign included). False when the text does not
// begin with a number, and for a negative value, which no unsigned time holds.
bool read_time_part(const char *text, double *value) {
  while (isspace(static_cast<unsigned char>(*text))) text++;
  const char *digits = text + (*text == '+' || *text == '-');
  if (!isdigit(static_cast<unsigned char>(*digits))) return false;
  *value = read_decimal(text);
  return isfinite(*value) && !(*value < 0);
}

int thread_id(const FileParse &p) {
  return p.thread->thread_id;
}

void reject_time_format(FileParse &p) {
  info_log(p.run->log, 2, "    ",
           "Processing Thread[%d]:RequestTimeEx format is not correct in at line number %lu. This "
           "request will be ignored.",
           thread_id(p), p.line_no);
  reject_on_header_line(p, kErrTimeFormat);
}

// Service name of a SOAP action value: the last two segments of its path, or
// the value after its first character when it has one "/".
void service_name_from_action(FileParse &p, const char *value, size_t len) {
  if (len && value[len - 1] == '"') len--;
  if (len && value[len - 1] == '/') len--;
  const char *last = static_cast<const char *>(memrchr(value, '/', len));
  size_t start = 0;
  if (!last) {
    if (p.run->log.debug_level)
      debug_log(p.run->log, 4, kFn,
                "Processing Thread[%d]:\"/\" not found in HTTP_SOAPACTION (%s).", thread_id(p),
                value);
  } else {
    const char *before = static_cast<const char *>(memrchr(value, '/', last - value));
    start = before ? before - value + 1 : 1;
    if (p.run->log.debug_level && before)
      debug_log(p.run->log, 4, kFn, "Processing Thread[%d]:second_last_slash_ptr = %s",
                thread_id(p), before);
  }
  char *name = p.rec.service_name;
  size_t n = 0;
  for (size_t i = start; i < len; i++) {
    char c = value[i];
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    name[n++] = keep ? c : '_';
  }
  name[n] = '\0';
  if (p.run->log.debug_level)
    debug_log(p.run->log, 4, kFn,
              "Processing Thread[%d]:  service name = %s, url = %s, service_index = %d",
              thread_id(p), name, p.rec.url, p.rec.service_index);
}

bool is_empty_action(const char *value, size_t len) {
  return len == 0 || (len == 1 && value[0] == '\n') ||
         (len >= 2 && value[0] == '"' && value[1] == '"');
}

}  // namespace

void reset_record(FileParse &p) {
  RecordState &r = p.rec;
  r.read_state = kHeaderSection;
  r.time_stamp_line_done = r.service_line_done = r.url_line_done = 0;
  r.ignore_request = 0;
  r.request_body_first_line = 0;
  r.first_time = 1;
  r.indexing_tag = nullptr;
  r.uid = -1;
  r.req_mod_flag = 0;
  r.service_index = -1;
  r.service_type = 0;
  r.service_name[0] = r.url[0] = r.soap_action[0] = '\0';
}

void reject_on_header_line(FileParse &p, ErrorIndex error) {
  p.rec.read_state = kBodySection;
  p.rec.ignore_request = 2;
  record_error(p.thread, error, p.seq_file, p.line_no);
}

void handle_time_line(FileParse &p, char *value) {
  p.rec.time_stamp_line_done = 1;
  char *parts[2];
  if (get_tokens_local(p.run->log, value, parts, ".", 2) != 2) return reject_time_format(p);
  if (p.run->log.debug_level)
    debug_log(p.run->log, 4, kFn,
              "Processing Thread[%d]:RequestTime (Line = %s), TimeSecsPart = %s, "
              "TimeMicroSecPart = %s",
              thread_id(p), value, parts[0], parts[1]);
  double secs = 0, usecs = 0;
  if (!read_time_part(parts[0], &secs) || !read_time_part(parts[1], &usecs))
    return reject_time_format(p);
  if (p.run->config.start_time_stamp &&
      secs < static_cast<double>(p.run->config.start_time_stamp)) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:RequestTime %lf is less than start time stamp %lu stamp given "
             "in REPLAY_PERIOD at line %'lu. This request will be ignored",
             thread_id(p), secs, p.run->config.start_time_stamp, p.line_no);
    return reject_on_header_line(p, kErrTimeRange);
  }
  if (p.run->config.end_time_stamp && secs > static_cast<double>(p.run->config.end_time_stamp)) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:RequestTime %lf is greater than end time stamp %lu stamp "
             "given in REPLAY_PERIOD at line %'lu. This request will be ignored",
             thread_id(p), secs, p.run->config.end_time_stamp, p.line_no);
    return reject_on_header_line(p, kErrTimeRange);
  }
  double ms = secs * 1000 + usecs / 1000;
  // 2^64: the first value an unsigned 64-bit time cannot hold.
  if (!(ms < 18446744073709551616.0)) return reject_time_format(p);
  current_slot(p).time_stamp = static_cast<uint64_t>(ms);
}

void handle_soap_action_line(FileParse &p, char *value, size_t value_len, bool wf_header) {
  RecordState &r = p.rec;
  // In URL mode the service comes from the URL and no SOAP action header is
  // composed: the line has no effect.
  if (!p.run->options.svc_id_uses_svc_name) return;
  bool empty = is_empty_action(value, value_len);
  if (r.soap_action[0]) {
    if (empty) return;
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:SOAPACTION header given multiple time at line %'lu. This "
             "request will be ignored",
             thread_id(p), p.line_no);
    return reject_on_header_line(p, kErrSoapRepeated);
  }
  r.service_line_done = 1;
  if (empty) return;
  if (value[value_len - 1] == '\n') value[--value_len] = '\0';
  if (memchr(value, '\0', value_len)) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:NUL byte in SOAPACTION header at line %'lu. This request will "
             "be ignored",
             thread_id(p), p.line_no);
    return reject_on_header_line(p, kErrNulInHeader);
  }
  const char *header = wf_header ? "WFSoapAction: " : "SOAPAction: ";
  size_t room = kSoapActionSize - strlen(header) - strlen("\r\n") - 1;
  if (value_len > room) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:SOAPACTION value of %lu bytes is longer than %lu bytes at line "
             "%'lu. This request will be ignored",
             thread_id(p), value_len, room, p.line_no);
    return reject_on_header_line(p, kErrSoapTooLong);
  }
  // The header name, the value (no NUL inside, checked above) and "\r\n".
  char *out = static_cast<char *>(mempcpy(r.soap_action, header, strlen(header)));
  out = static_cast<char *>(mempcpy(out, value, value_len));
  memcpy(out, "\r\n", 3);
  service_name_from_action(p, value, value_len);
}

void handle_url_line(FileParse &p, char *line, size_t len) {
  RecordState &r = p.rec;
  r.url_line_done = 1;
  if (len && line[len - 1] == '\n') line[--len] = '\0';
  if (memchr(line, '\0', len)) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:NUL byte in URL at line number %lu. This request will be "
             "ignored",
             thread_id(p), p.line_no);
    return reject_on_header_line(p, kErrNulInHeader);
  }
  char *parts[2];
  if (get_tokens_local(p.run->log, line, parts, "=", 2) != 2) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:URL format is not correct at line number %lu. This request "
             "will be ignored",
             thread_id(p), p.line_no);
    return reject_on_header_line(p, kErrUrlFormat);
  }
  size_t host_len = strlen(p.run->config.host_name), path_len = strlen(parts[1]);
  size_t needed = strlen("http://") + host_len + path_len;
  if (needed >= kUrlSize) {
    info_log(p.run->log, 2, "    ",
             "Processing Thread[%d]:URL of %lu bytes (host name included) is longer than %lu "
             "bytes at line number %lu. This request will be ignored",
             thread_id(p), needed, kUrlSize - 1, p.line_no);
    return reject_on_header_line(p, kErrUrlTooLong);
  }
  char *out = r.url;
  out = static_cast<char *>(mempcpy(out, "http://", strlen("http://")));
  out = static_cast<char *>(mempcpy(out, p.run->config.host_name, host_len));
  memcpy(out, parts[1], path_len + 1);
  if (p.run->log.debug_level)
    debug_log(p.run->log, 4, kFn, "Processing Thread[%d]:Url found. url = %s", thread_id(p), r.url);
}

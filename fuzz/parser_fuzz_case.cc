#include "fuzz/fuzz_cases.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/loader/loader_test_support.h"
#include "tools/replay_gen/loader/record_errors.h"
#include "tools/replay_gen/loader/record_parser.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/services/runtime_services.h"

namespace {

constexpr const char *kFileName = "fuzz.log";
constexpr int32_t kFileIndex = 7;

void set_host_name(RunState &run, int choice) {
  static const char *const kHosts[] = {"127.0.0.1", "h", nullptr, ""};
  size_t room = sizeof run.config.host_name;
  if (kHosts[choice]) {
    snprintf(run.config.host_name, room, "%s", kHosts[choice]);
  } else {  // every URL is too long for this host
    memset(run.config.host_name, 'h', room - 1);
    run.config.host_name[room - 1] = '\0';
  }
}

void apply_modes(RunState &run, uint8_t mode, uint8_t extra) {
  run.options.svc_id_uses_svc_name = (mode & kModeServiceName) != 0;
  run.options.do_parameterization = (mode & kModeParameterize) != 0;
  run.config.ignore_header = (mode & kModeIgnoreHeader) != 0;
  uint64_t shift = extra >> kBoundShift;
  run.config.start_time_stamp = (mode & kModeStartBound) ? kStartBound + shift : 0;
  run.config.end_time_stamp = (mode & kModeEndBound) ? kEndBound + shift : 0;
  if (mode & kModeServices) {  // services the sample records name, in both modes, other id tags
    loader_test::add_configured_service(run, "IService_GetData", "http://127.0.0.1/svc/Service.svc",
                                        "CustNo");
    loader_test::add_configured_service(run, "svc_Service.svc", "http://127.0.0.1/svc/Service.svc",
                                        "XACustId");
    loader_test::add_configured_service(run, "IOrders_PutOrder", "http://127.0.0.1/svc/Orders.svc",
                                        "Id");
  }
  run.services.num_service_file = run.services.total_services;
  run.log.info_level = (mode & kModeInfoLevel) ? 2 : 0;
  run.options.commentry_req_count = (mode & kModeInfoLevel) ? 1 : 0;
  run.log.debug_level = (mode & kModeDebugLevel) ? 4 : 0;
  run.log.error_level = 0;
  set_host_name(run, (extra >> kHostShift) & 3);
}

// A capacity of 1 makes the array grow on the first record (and every 10000); other cases reuse
// one array of 1024 records (all of an input up to 16 KiB) instead of fresh pages each.
constexpr uint64_t kReusedCapacity = 1024;
SeqData *reused_records = nullptr;

SeqData *record_array(bool grow, uint64_t *capacity) {
  if (grow) {
    *capacity = 1;
    return static_cast<SeqData *>(calloc(1, sizeof(SeqData)));
  }
  if (!reused_records)
    reused_records = static_cast<SeqData *>(calloc(kReusedCapacity, sizeof(SeqData)));
  *capacity = kReusedCapacity;
  return reused_records;
}

// The loader thread state: its 10 MiB line buffer is allocated once.
ThreadArgs *fresh_thread(RunState &run, Failure *failure, bool grow, char **err_text,
                         size_t *err_len) {
  static ThreadArgs *thread = static_cast<ThreadArgs *>(calloc(1, sizeof(ThreadArgs)));
  static std::atomic<bool> stop{false};
  ThreadArgs *t = thread;
  t->run = &run;
  t->failure = failure;
  t->stop = &stop;
  t->t_seq_data_arr = record_array(grow, &t->t_max_sda_size);
  t->thread_id = 0;
  t->t_msgcount = t->t_valid_msgcount = t->t_invalid_request = t->t_ignore_request = 0;
  t->t_no_xacustid_messages = t->t_empty_xacustid_messages = 0;
  t->run_time_services = nullptr;
  t->max_runtime_service = t->total_runtime_service = 0;
  t->service_counter =
      static_cast<uint64_t *>(calloc(run.services.total_services + 1, sizeof(uint64_t)));
  t->error_file_fp = open_memstream(err_text, err_len);
  return t;
}

void release_thread(ThreadArgs *t, bool grow) {
  if (t->t_seq_data_arr == reused_records) {
    memset(reused_records, 0, kReusedCapacity * sizeof(SeqData));
  } else {
    // The parser's growth of the reused array moved it.
    if (!grow) reused_records = nullptr;
    free(t->t_seq_data_arr);
  }
  t->t_seq_data_arr = nullptr;
  free(t->service_counter);
  t->service_counter = nullptr;
  free_runtime_services(t);
  if (t->error_file_fp) fclose(t->error_file_fp);
  t->error_file_fp = nullptr;
}

// End of the piece of at most room bytes that read_line returns from pos.
size_t piece_end(const uint8_t *file, size_t n, size_t pos, size_t room) {
  size_t limit = std::min(n, pos + room);
  const void *nl = memchr(file + pos, '\n', limit - pos);
  return nl ? static_cast<const uint8_t *>(nl) - file + 1 : limit;
}

// The file as the parser sees it: where each line it reads begins.
struct FileView {
  const uint8_t *bytes;
  size_t size;
  std::vector<size_t> starts;  // ascending

  bool is_start(size_t pos) const { return std::binary_search(starts.begin(), starts.end(), pos); }
  bool at(size_t pos, const char *text) const {
    size_t len = strlen(text);
    return pos + len <= size && memcmp(bytes + pos, text, len) == 0;
  }
  bool is_end_line(size_t pos) const { return is_start(pos) && at(pos, "*******"); }
};

FileView view_file(const uint8_t *file, size_t n, bool header) {
  FileView v{file, n, {}};
  size_t pos = header && n ? piece_end(file, n, 0, kHeaderLineLimit - 1) : 0;
  while (pos < n) {
    v.starts.push_back(pos);
    pos = piece_end(file, n, pos, kLineBufSize - 2);
  }
  return v;
}

// An accepted body begins a line (or 14 bytes into an "xml1=" line), its trailer ends right before
// an end line, none lies inside it. prev_end: where the previous record's end line begins.
std::string check_body(const FileView &v, const SeqData &s, uint64_t i, size_t *prev_end) {
  if (s.req_offset < 0) return fuzz_failure("record %lu: req_offset %ld", i, long(s.req_offset));
  if (s.req_offset == 0) {
    if (s.req_size) return fuzz_failure("record %lu: size %lu without a body start", i, s.req_size);
    return "";
  }
  size_t off = static_cast<size_t>(s.req_offset);
  if (s.req_size > v.size || off > v.size - s.req_size - kBodyTrailerSize)
    return fuzz_failure("record %lu: body %zu+%lu runs past the file's %zu bytes", i, off,
                        s.req_size, v.size);
  size_t end = off + s.req_size + kBodyTrailerSize;
  bool after_lead_in =
      off >= kBodyLeadIn && v.is_start(off - kBodyLeadIn) && v.at(off - kBodyLeadIn, "xml1=");
  if (!v.is_start(off) && !after_lead_in)
    return fuzz_failure("record %lu: body offset %zu starts no line", i, off);
  if (!v.is_end_line(end))
    return fuzz_failure("record %lu: body %zu+%lu is not followed by an end line", i, off,
                        s.req_size);
  auto first = std::upper_bound(v.starts.begin(), v.starts.end(), off);
  for (auto it = first; it != v.starts.end() && *it < end; ++it)
    if (v.at(*it, "*******"))
      return fuzz_failure("record %lu: end line at %zu inside its body", i, *it);
  if (*prev_end != SIZE_MAX && off <= *prev_end)
    return fuzz_failure("record %lu: body at %zu overlaps the record before", i, off);
  *prev_end = end;
  return "";
}

std::string check_creation_timestamp(const RunState &run, const FileView &v, const SeqData &s,
                                     uint64_t i) {
  if (s.type != '1') {
    if (s.type || s.creation_ts_offset || s.creation_ts_size)
      return fuzz_failure("record %lu: creation timestamp fields without type", i);
    return "";
  }
  if (!run.options.do_parameterization)
    return fuzz_failure("record %lu: creation timestamp without -p", i);
  if (s.creation_ts_size < 0 ||
      s.creation_ts_offset + uint64_t(s.creation_ts_size) > s.req_size + kBodyTrailerSize)
    return fuzz_failure("record %lu: creation timestamp %u+%d outside body of %lu", i,
                        s.creation_ts_offset, s.creation_ts_size, s.req_size);
  const uint8_t *value = v.bytes + s.req_offset + s.creation_ts_offset;
  for (int k = 0; k < s.creation_ts_size; k++)
    if (!value[k] || strchr(" \t/<", value[k]))
      return fuzz_failure("record %lu: creation timestamp value holds byte %d", i, value[k]);
  return "";
}

bool begins(const char *text, const char *prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The services met: URLs of the host name and a path; names of letters, digits and "_" with their
// SOAP action line, and in URL mode no such line.
std::string check_services(const RunState &run, const ThreadArgs *t) {
  std::string url_start = std::string("http://") + run.config.host_name;
  for (int32_t i = 0; i < t->total_runtime_service; i++) {
    const RunTimeServiceInfo &e = t->run_time_services[i];
    if (!begins(e.url, url_start.c_str())) return fuzz_failure("service %d: URL %.80s", i, e.url);
    if (!run.options.svc_id_uses_svc_name) {
      if (e.soap_action[0]) return fuzz_failure("service %d: SOAP action in URL mode", i);
      continue;
    }
    for (const char *c = e.service_name; *c; c++)
      if (!isalnum(static_cast<unsigned char>(*c)) && *c != '_')
        return fuzz_failure("service %d: name %.80s", i, e.service_name);
    size_t len = strlen(e.soap_action);
    if (!(begins(e.soap_action, "SOAPAction: ") || begins(e.soap_action, "WFSoapAction: ")) ||
        len < 2 || strcmp(e.soap_action + len - 2, "\r\n") != 0)
      return fuzz_failure("service %d: SOAP action line %.80s", i, e.soap_action);
  }
  return "";
}

std::string check_records(const RunState &run, const FileView &v, const ThreadArgs *t, FILE *in,
                          uint64_t accepted) {
  if (accepted >= t->t_max_sda_size) return fuzz_failure("record %lu has no slot", accepted);
  size_t prev_end = SIZE_MAX;
  uint64_t per_service = 0;
  for (uint64_t i = 0; i < run.services.total_services; i++) per_service += t->service_counter[i];
  for (int32_t i = 0; i < t->total_runtime_service; i++)
    per_service += t->run_time_services[i].num_requests;
  if (per_service != accepted)
    return fuzz_failure("%lu requests counted per service, %lu accepted", per_service, accepted);
  for (uint64_t i = 0; i < accepted; i++) {
    const SeqData &s = t->t_seq_data_arr[i];
    if (s.seq != i) return fuzz_failure("record %lu has seq %lu", i, s.seq);
    if (s.uid < 0) return fuzz_failure("record %lu has uid %ld", i, long(s.uid));
    if (s.req_file_fp != in || s.seq_index != kFileIndex)
      return fuzz_failure("record %lu: wrong input stream or file index", i);
    bool runtime = s.runtime_service == 1;
    if ((s.runtime_service != 0 && !runtime) || s.service_id < 0 ||
        s.service_id >= (runtime ? t->total_runtime_service : run.services.total_services))
      return fuzz_failure("record %lu: service %d (runtime %d)", i, s.service_id,
                          s.runtime_service);
    if (s.time_stamp / 1000 < run.config.start_time_stamp)
      return fuzz_failure("record %lu: time %lu before the period", i, s.time_stamp);
    std::string why = check_body(v, s, i, &prev_end);
    if (why.empty()) why = check_creation_timestamp(run, v, s, i);
    if (!why.empty()) return why;
  }
  static const SeqData kClear{};
  if (memcmp(&t->t_seq_data_arr[accepted], &kClear, sizeof kClear) != 0)
    return fuzz_failure("the slot after the last record (%lu) is not clear", accepted);
  return "";
}

// The line an error names: the header line that failed, or the record's end line (maybe after
// an "xml1=" lead-in).
bool names_its_line(const FileView &v, int code, uint64_t line_no) {
  size_t at = v.starts[line_no - 1];
  bool action = v.at(at, "HTTP_SOAPACTION=") || v.at(at, "HTTP_WFSOAPACTION=");
  if (code == 101 || code == 102) return v.at(at, "RequestTimeEx=");
  if (code == 103 || code == 108) return action;
  if (code == 104 || code == 109) return v.at(at, "URL=");
  if (code == 112) return action || v.at(at, "URL=");
  return v.is_end_line(at) || (v.at(at, "xml1=") && v.at(at + kBodyLeadIn, "*******"));
}

// One line per ignored record, numbered from 1, with a known code, the file and its line, in order.
std::string check_error_log(const char *text, size_t len, const ThreadArgs *t, const FileView &v) {
  uint64_t n = 0, last_line = 0;
  for (const char *line = text; line < text + len;) {
    const char *nl = static_cast<const char *>(memchr(line, '\n', text + len - line));
    if (!nl) return "error log ends without a line break";
    unsigned long num = 0, line_no = 0;
    int code = 0, used = 0;
    char message[101] = "", file[64] = "";
    if (sscanf(line, "%lu|%d|%100[^|]|%63[^|]|%lu%n", &num, &code, message, file, &line_no,
               &used) != 5 ||
        line + used != nl)
      return fuzz_failure("error log line %lu is malformed: %.*s", n + 1, int(nl - line), line);
    n++;
    if (num != n || code < 101 || code >= 101 + kNumErrors || strcmp(file, kFileName) != 0 ||
        strcmp(message, errors[code - 101].errorString) != 0 || line_no <= last_line ||
        line_no > v.starts.size() || !names_its_line(v, code, line_no))
      return fuzz_failure("error log line %lu is wrong: %.*s", n, int(nl - line), line);
    last_line = line_no;
    line = nl + 1;
  }
  if (n != t->t_ignore_request)
    return fuzz_failure("%lu error lines for %lu ignored records", n, t->t_ignore_request);
  return "";
}

std::string check_counts(const ThreadArgs *t, uint64_t accepted) {
  if (t->t_msgcount != accepted + t->t_ignore_request)
    return fuzz_failure("%lu records met, %lu accepted, %lu ignored", t->t_msgcount, accepted,
                        t->t_ignore_request);
  if (t->t_invalid_request != t->t_ignore_request)
    return fuzz_failure("%lu errors for %lu ignored records", t->t_invalid_request,
                        t->t_ignore_request);
  if (t->t_empty_xacustid_messages > t->t_no_xacustid_messages)
    return fuzz_failure("%lu empty customer ids of %lu missing", t->t_empty_xacustid_messages,
                        t->t_no_xacustid_messages);
  return "";
}

std::string check_outcome(const RunState &run, bool fatal, const FileView &v, ThreadArgs *t,
                          FILE *in, uint64_t seq_no, const char *err_text, size_t err_len) {
  bool header_missing = run.config.ignore_header && v.size == 0;
  int status = t->failure->status;
  if (header_missing != fatal)
    return header_missing ? "no fatal exit for an empty file under IGNORE_HEADER"
                          : fuzz_failure("the parser ended the run with status %d", status);
  if (fatal) return status == -1 ? "" : fuzz_failure("fatal status %d", status);
  std::string why = check_counts(t, seq_no);
  if (why.empty()) why = check_error_log(err_text, err_len, t, v);
  if (why.empty()) why = check_records(run, v, t, in, seq_no);
  if (why.empty()) why = check_services(run, t);
  return why;
}

}  // namespace

std::string run_parser_fuzz_case(const uint8_t *data, size_t size) {
  uint8_t mode = size > 0 ? data[0] : kModeServiceName;
  uint8_t extra = size > 1 ? data[1] : 0;
  const uint8_t *file = data + std::min<size_t>(size, 2);
  size_t file_size = size - std::min<size_t>(size, 2);

  RunState run;
  Failure failure;
  apply_modes(run, mode, extra);
  char *err_text = nullptr;
  size_t err_len = 0;
  bool grow = (extra & kGrowMask) == kGrowMask;
  ThreadArgs *t = fresh_thread(run, &failure, grow, &err_text, &err_len);
  // fmemopen only reads the bytes in "r" mode.
  FILE *in = fmemopen(const_cast<uint8_t *>(file), file_size, "r");
  std::string why;
  if (!t->t_seq_data_arr || !t->service_counter || !t->error_file_fp || !in) {
    why = "harness: out of memory";
  } else {
    uint64_t seq_no = 0;
    bool fatal = !load_sequence_file_new(t, kFileName, in, &seq_no, kFileIndex);
    fflush(t->error_file_fp);
    FileView view = view_file(file, file_size, run.config.ignore_header);
    why = check_outcome(run, fatal, view, t, in, seq_no, err_text, err_len);
  }
  release_thread(t, grow);
  free(err_text);
  if (in) fclose(in);
  return why;
}

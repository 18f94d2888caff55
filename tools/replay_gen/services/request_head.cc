#include "tools/replay_gen/services/request_head.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

bool invalid_url(const char *url, Failure *err) {
  return fail(err, "make_method_and_host_header", "Invalid URL %s\n", url);
}

bool write_generator_line(const RunState &run, const char *method, const char *url,
                          const char *service_name, Failure *err) {
  FILE *fp = run.script_input.vtu_gen_script_fp;
  if (!fp) return true;
  int written;
  if (strcmp(run.config.script_type, "C") == 0)
    written = fprintf(fp, "1 %s %s %s\n", method, url, service_name);
  else
    written = fprintf(fp, "1 %s %s\n", method, url);
  if (written < 0)
    return fail(err, "make_method_and_host_header", "Error in writing file '%s': %s",
                run.script_input.vtu_gen_script_file_name, strerror(errno));
  return true;
}

// The path of url (after the first "/" behind the host, query included).
bool path_of(const std::string &url, std::string *path, Failure *err) {
  size_t colon = url.find(':');
  if (colon == std::string::npos) return invalid_url(url.c_str(), err);
  std::string scheme = url.substr(0, colon);
  if (scheme != "http" && scheme != "https")
    return fail(err, "make_method_and_host_header",
                "Error: Invalid HTTP schema used in URL %s. It should be http or https",
                scheme.c_str());
  // The two characters after the colon ("//") are skipped unchecked.
  size_t slash = colon + 3 <= url.size() ? url.find('/', colon + 3) : std::string::npos;
  if (slash == std::string::npos) return invalid_url(url.c_str(), err);
  *path = url.substr(slash + 1);
  return true;
}

std::string page_name_of(const ServiceMap &svc) {
  std::string name = svc.service_name ? svc.service_name : "";
  if (svc.sname_prefix[0]) return std::string(svc.sname_prefix) + "_" + name;
  return name;
}

void append_text(std::string *head, const char *text) {
  if (text) head->append(text);
}

size_t text_len(const char *text) {
  return text ? strlen(text) : 0;
}

// Room for the whole head of svc, known before it is composed: the request
// line holds the method, at most the whole URL and the version; then the host
// line and the header lines, and the terminating NUL.
size_t head_room(const RunState &run, const ServiceMap &svc, const char *url) {
  return strlen(svc.method_type[0] ? svc.method_type : "POST") + strlen(url) +
         strlen(" / HTTP/\r\n\r\n") + strlen(run.config.http_version) +
         strlen(run.config.host_hdr) + text_len(run.config.http_header) +
         text_len(svc.service_header) + text_len(svc.soap_action) + 1;
}

// Copies the composed head into the service's own all_headers.
bool keep_head(ServiceMap *svc, const std::string &head, int index, Failure *err) {
  size_t size = head.size() + 1;
  char *copy = static_cast<char *>(malloc(size));
  if (!copy || head.size() > INT32_MAX) {
    free(copy);
    return out_of_memory(err, "append_all_headers", "All headers", static_cast<long long>(size),
                         index);
  }
  memcpy(copy, head.c_str(), size);
  free(svc->all_headers);
  svc->all_headers = copy;
  svc->all_headers_len = static_cast<int32_t>(head.size());
  return true;
}

}  // namespace

bool make_method_and_host_header(const RunState &run, const char *method, const char *url,
                                 std::string *header, const char *service_name, Failure *err) {
  const LogGates &log = run.log;
  if (log.debug_level) {
    debug_log(log, 4, "make_method_and_host_header",
              "Method Called. method %s URL = %s header = %s service_name = %s", method, url,
              header->c_str(), service_name);
    debug_log(log, 2, "make_method_and_host_header", "Allocating memory for %s. size = %zu",
              "url memory allocation", strlen(url) + 1);
  }
  std::string path;
  if (!write_generator_line(run, method, url, service_name, err) || !path_of(url, &path, err))
    return false;
  *header = std::string(method) + " /" + path + " HTTP/" + run.config.http_version + "\r\n" +
            run.config.host_hdr + "\r\n";
  if (log.debug_level)
    debug_log(log, 4, "make_method_and_host_header", "HTTP Request line and Host header = %s",
              header->c_str());
  return true;
}

bool append_all_headers(RunState &run, Failure *err) {
  const LogGates &log = run.log;
  if (log.debug_level)
    debug_log(log, 2, "append_all_headers", "Method called, num_service_file= %d",
              run.services.num_service_file);
  std::string head;
  for (int i = 0; i < run.services.num_service_file; i++) {
    ServiceMap &svc = run.services.service_map_ptr[i];
    const char *url = svc.url ? svc.url : "";
    if (log.debug_level) {
      debug_log(log, 2, "append_all_headers", "service_map_ptr[i].url = %s, len = %d, i = %d", url,
                svc.url_len, i);
      debug_log(log, 2, "append_all_headers", "Allocating memory for %s. size = %zu", "All headers",
                head_room(run, svc, url));
    }
    head.clear();  // the new head starts empty, as its trace shows
    if (svc.method_type[0] == '\0') snprintf(svc.method_type, kMethodTypeSize, "POST");
    if (!make_method_and_host_header(run, svc.method_type, url, &head, page_name_of(svc).c_str(),
                                     err))
      return false;
    append_text(&head, run.config.http_header);
    append_text(&head, svc.service_header);
    append_text(&head, svc.soap_action);
    if (!keep_head(&svc, head, i, err)) return false;
    free(svc.service_header);
    svc.service_header = nullptr;
    svc.service_header_len = 0;
    if (log.debug_level)
      debug_log(log, 2, "append_all_headers",
                "For service %d, all_headers_len = %d, all_headers = %s", i, svc.all_headers_len,
                svc.all_headers);
  }
  free(run.config.http_header);
  run.config.http_header = nullptr;
  run.config.http_header_len = 0;
  return true;
}

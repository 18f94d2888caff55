#include "tools/replay_gen/output/manifest_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "base/core/digest.h"
#include "base/core/safe_file.h"
#include "base/core/utc_time.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

#ifndef VT_VERSION
#define VT_VERSION "unknown"
#endif

const char kManifestName[] = "vt_manifest.json";

namespace {

const char *const kFname = "write_package_manifest";

// Bytes of a well-formed UTF-8 sequence at s (at most n bytes), or 0.
size_t utf8_sequence(const unsigned char *s, size_t n) {
  size_t len = s[0] >= 0xF0 && s[0] <= 0xF4 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 ? 2 : 0;
  if (len == 0 || len > n) return 0;
  for (size_t i = 1; i < len; i++)
    if ((s[i] & 0xC0) != 0x80) return 0;
  uint32_t cp = len == 2 ? (s[0] & 0x1Fu) << 6 | (s[1] & 0x3Fu)
                : len == 3 ? (s[0] & 0x0Fu) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu)
                           : (s[0] & 0x07u) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 |
                                 (s[3] & 0x3Fu);
  bool shortest = len == 2 || (len == 3 && cp >= 0x800) || (len == 4 && cp >= 0x10000);
  if (!shortest || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return len;
}

// A JSON string. Texts from the logs may hold any byte: UTF-8 passes as it
// is, any other byte above 0x7f is written as the code point of its value.
std::string json_text(const char *text) {
  std::string out = "\"";
  const unsigned char *s = reinterpret_cast<const unsigned char *>(text ? text : "");
  size_t n = strlen(reinterpret_cast<const char *>(s));
  for (size_t i = 0; i < n;) {
    unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else if (c >= 0x80) {
      size_t len = utf8_sequence(s + i, n - i);
      if (len) {
        out.append(reinterpret_cast<const char *>(s + i), len);
        i += len;
        continue;
      }
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
    i++;
  }
  return out + "\"";
}

std::string json_text(const std::string &text) {
  return json_text(text.c_str());
}

std::string number(uint64_t n) {
  return std::to_string(n);
}

// A part of the INPUT_DIR value, or null when absent.
std::string part_or_null(const std::string &part, bool present) {
  return present && !part.empty() ? json_text(part) : "null";
}

// The INPUT_DIR selection as the tool reads it: the base directory, then
// after "|" the days and after the next "|" the files of each day.
std::string input_selection() {
  const std::string &value = run.manifest.input_dir;
  size_t bar = value.find('|');
  std::string base = value.substr(0, bar);
  std::string days, files;
  bool has_days = bar != std::string::npos;
  bool has_files = false;
  if (has_days) {
    size_t next = value.find('|', bar + 1);
    days = value.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
    if (next != std::string::npos) {
      has_files = true;
      files = value.substr(next + 1);
    }
  }
  return "\"input_dir\": " + json_text(value) + ", \"base\": " + json_text(base) +
         ", \"days\": " + part_or_null(days, has_days) +
         ", \"files\": " + part_or_null(files, has_files);
}

// A REPLAY_PERIOD bound: the time and its seconds, or null when unset.
void append_period_bound(const char *key, uint64_t seconds, std::string *out) {
  std::string k = std::string("\"") + key;
  if (!seconds) {
    out->append(k).append("\": null, ").append(k).append("_s\": null");
    return;
  }
  out->append(k).append("\": ").append(json_text(vtlb_utc_iso(seconds * 1000, false)));
  out->append(", ").append(k).append("_s\": ").append(number(seconds));
}

std::string input_object() {
  const RunConfig &c = run.config;
  std::string out = "{";
  out.append(input_selection());
  out.append(",\n            \"input_files\": ");
  out.append(number(static_cast<uint64_t>(run.files.num_seq_files)));
  out.append(", \"records\": ").append(number(run.counters.g_msgcount));
  out.append(", \"accepted\": ").append(number(run.counters.g_valid_msgcount));
  out.append(", \"rejected\": ").append(number(run.counters.g_ignore_request));
  out.append(",\n            \"replay_period\": ");
  if (c.start_time_stamp || c.end_time_stamp) {
    out.append("{");
    append_period_bound("start", c.start_time_stamp, &out);
    out.append(", ");
    append_period_bound("end", c.end_time_stamp, &out);
    out.append("}");
  } else {
    out.append("null");
  }
  out.append(", \"new_user_time_ms\": ").append(number(c.new_user_time));
  out.append(", \"page_ids_from\": ");
  out.append(run.options.svc_id_uses_svc_name ? "\"soap_action\"" : "\"url\"");
  return out + "}";
}

std::string file_object(const char *prefix, int w, uint64_t size, const uint8_t *digest) {
  return "{\"name\": \"" + std::string(prefix) + std::to_string(w) + "\", \"size\": " +
         number(size) + ", \"" + kDigestField + "\": \"" + vtlb_digest_hex(digest) + "\"}";
}

}  // namespace

void note_manifest_sources(const char *config_file) {
  char resolved[PATH_MAX];
  run.manifest.config_file = realpath(config_file, resolved) ? resolved : config_file;
  size_t skip = strnlen(run.config.input_dir, strlen("INPUT_DIR|"));
  run.manifest.input_dir = run.config.input_dir + skip;
}

std::string format_manifest(uint64_t made_at_ms) {
  const ManifestNotes &m = run.manifest;
  int workers = run.workers.num_vvm;
  std::string out = "{\n";
  out += "  \"format\": 1,\n";
  out += "  \"tool\": \"vtu_replay_gen\",\n";
  out += "  \"tool_version\": " + json_text(VT_VERSION) + ",\n";
  out += "  \"made_at\": " + json_text(vtlb_utc_iso(made_at_ms, false)) + ",\n";
  out += "  \"config\": " + json_text(m.config_file) + ",\n";
  out += "  \"input\": " + input_object() + ",\n";
  out += "  \"capture_start_ms\": " + number(run.records.time_zero_ms) + ",\n";
  out += "  \"capture_start\": " + json_text(vtlb_utc_iso(run.records.time_zero_ms, true)) + ",\n";
  out += "  \"workers\": " + std::to_string(workers) + ",\n";
  uint64_t users = 0, requests = 0;
  for (int w = 0; w < workers && w < kMaxVvm; w++) {
    users += static_cast<uint64_t>(run.workers.vvm_list[w].num_users);
    requests += m.requests[w];
  }
  out += "  \"users\": " + number(users) + ",\n";
  out += "  \"requests\": " + number(requests) + ",\n";
  out += "  \"files\": [";
  for (int w = 0; w < workers && w < kMaxVvm; w++) {
    out += w ? ",\n" : "\n";
    out += "    {\"worker\": " + std::to_string(w) +
           ", \"users\": " + number(static_cast<uint64_t>(run.workers.vvm_list[w].num_users)) +
           ", \"requests\": " + number(m.requests[w]) + ",\n     \"request_file\": " +
           file_object("vt_req_", w, static_cast<uint64_t>(run.workers.vvm_list[w].offset),
                       m.request_digest[w]) +
           ",\n     \"index_file\": " +
           file_object("vt_index_", w, m.index_size[w], m.index_digest[w]) + "}";
  }
  out += "\n  ],\n";
  out += "  \"services\": [";
  for (int i = 0; i < run.services.total_services; i++) {
    const ServiceMap &s = run.services.service_map_ptr[i];
    out += i ? ",\n" : "\n";
    out += "    {\"page_id\": " + std::to_string(i) + ", \"name\": " + json_text(s.service_name) +
           ", \"method\": " + json_text(s.method_type) + ", \"url\": " + json_text(s.url) +
           ", \"requests\": " + number(s.num_requests) + "}";
  }
  out += run.services.total_services ? "\n  ]\n" : "]\n";
  return out + "}\n";
}

void write_package_manifest() {
  if (run.log.debug_level) debug_log(4, kFname, "Method Called");
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::string text = format_manifest(static_cast<uint64_t>(now.tv_sec) * 1000 +
                                     static_cast<uint64_t>(now.tv_nsec / 1000000));
  std::string path = std::string(run.config.replay_dir) + "/" + kManifestName;
  int fd = vtlb_create_new_file(path.c_str(), O_WRONLY, 0644);
  bool ok = fd >= 0 && vtlb_write_all(fd, text.data(), text.size());
  int err = errno;
  if (fd >= 0 && close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    error_log(1, kFname, "Error in writing manifest %s: %s", path.c_str(), strerror(err));
    vt_exit(-1);
  }
}

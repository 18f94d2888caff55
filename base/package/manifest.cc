#include "base/package/manifest.h"

#include "base/core/digest.h"
#include "base/core/utc_time.h"
#include "base/package/json_read.h"
#include "base/package/json_string.h"
#include "base/package/package_format.h"
#include "base/package/package_identity.h"

namespace {

std::string number(uint64_t n) {
  return std::to_string(n);
}

std::string text_or_null(const std::string &text) {
  return text.empty() ? "null" : json_string(text);
}

// A REPLAY_PERIOD bound: the time and its seconds, or null when unset.
std::string period_bound(const char *key, uint64_t seconds) {
  std::string k = std::string("\"") + key;
  if (!seconds) return k + "\": null, " + k + "_s\": null";
  return k + "\": " + json_string(vtlb_utc_iso(seconds * 1000, false)) + ", " + k +
         "_s\": " + number(seconds);
}

std::string input_object(const ManifestInput &in) {
  std::string out = "{\"input_dir\": " + json_string(in.input_dir) +
                    ", \"base\": " + json_string(in.base) + ", \"days\": " + text_or_null(in.days) +
                    ", \"files\": " + text_or_null(in.files);
  out += ",\n            \"input_files\": " + number(in.input_files);
  out += ", \"records\": " + number(in.records) + ", \"accepted\": " + number(in.accepted) +
         ", \"rejected\": " + number(in.rejected);
  out += ",\n            \"replay_period\": ";
  if (in.period_start_s || in.period_end_s)
    out += "{" + period_bound("start", in.period_start_s) + ", " +
           period_bound("end", in.period_end_s) + "}";
  else
    out += "null";
  out += ", \"new_user_time_ms\": " + number(in.new_user_time_ms);
  out +=
      std::string(", \"page_ids_from\": ") + (in.page_ids_from_url ? "\"url\"" : "\"soap_action\"");
  return out + "}";
}

std::string file_object(const std::string &name, const ManifestFile &f) {
  return "{\"name\": \"" + name + "\", \"size\": " + number(f.size) + ", \"" + kDigestField +
         "\": \"" + f.digest + "\"}";
}

bool is_digest(const std::string &s) {
  return s.size() == 2 * kDigestSize &&
         s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void read_file_entry(JsonFields &item, const char *key, ManifestFile *f) {
  const Json *v = item.object_of(key);
  if (!v) return;
  JsonFields in{*v, item.where + "." + key, item.error};
  f->name = in.text("name");
  f->size = in.count("size");
  f->digest = in.text(kDigestField);
  if (in.ok() && !is_digest(f->digest))
    in.fail("\"" + std::string(kDigestField) + "\" must be 32 lower-case hexadecimal digits");
}

// The listed files are one per worker, in order, with the worker's names;
// the totals are the workers' sums.
bool check_listing(const Manifest &m, std::string *error) {
  std::string listed = std::to_string(m.workers) + (m.workers == 1 ? " worker" : " workers");
  if (m.files.size() != static_cast<size_t>(m.workers))
    return *error =
               "lists " + listed + " but " + std::to_string(m.files.size()) + " workers' files",
           false;
  uint64_t users = 0, requests = 0;
  for (size_t i = 0; i < m.files.size(); i++) {
    const ManifestWorker &w = m.files[i];
    int n = static_cast<int>(i);
    if (w.worker != n || w.request_file.name != request_file_name(n) ||
        w.index_file.name != index_file_name(n))
      return *error = "files[" + std::to_string(i) + "] is not worker " + std::to_string(i) +
                      " with " + request_file_name(n) + " and " + index_file_name(n),
             false;
    if (__builtin_add_overflow(users, w.users, &users) ||
        __builtin_add_overflow(requests, w.requests, &requests))
      return *error = "the workers' users or requests add up beyond 2^64-1", false;
  }
  if (users != m.users)
    return *error = "\"users\" " + number(m.users) + " is not the workers' sum, " + number(users),
           false;
  if (requests != m.requests)
    return *error = "\"requests\" " + number(m.requests) + " is not the workers' sum, " +
                    number(requests),
           false;
  return true;
}

}  // namespace

std::string format_manifest_text(const Manifest &m) {
  std::string out = "{\n";
  out += "  \"format\": " + std::to_string(m.format) + ",\n";
  out += "  \"tool\": " + json_string(m.tool) + ",\n";
  out += "  \"tool_version\": " + json_string(m.tool_version) + ",\n";
  out += "  \"made_at\": " + json_string(m.made_at) + ",\n";
  out += "  \"config\": " + json_string(m.config) + ",\n";
  out += "  \"input\": " + input_object(m.input) + ",\n";
  out += "  \"capture_start_ms\": " + number(m.capture_start_ms) + ",\n";
  out += "  \"capture_start\": " + json_string(vtlb_utc_iso(m.capture_start_ms, true)) + ",\n";
  out += "  \"workers\": " + std::to_string(m.workers) + ",\n";
  uint64_t users = 0, requests = 0;
  for (const ManifestWorker &w : m.files) users += w.users, requests += w.requests;
  out += "  \"users\": " + number(users) + ",\n";
  out += "  \"requests\": " + number(requests) + ",\n";
  out += "  \"files\": [";
  for (size_t i = 0; i < m.files.size(); i++) {
    const ManifestWorker &w = m.files[i];
    int n = static_cast<int>(i);
    out += i ? ",\n" : "\n";
    out += "    {\"worker\": " + std::to_string(n) + ", \"users\": " + number(w.users) +
           ", \"requests\": " + number(w.requests) +
           ",\n     \"request_file\": " + file_object(request_file_name(n), w.request_file) +
           ",\n     \"index_file\": " + file_object(index_file_name(n), w.index_file) + "}";
  }
  out += "\n  ],\n";
  out += "  \"services\": [";
  for (size_t i = 0; i < m.services.size(); i++) {
    const ManifestService &s = m.services[i];
    out += i ? ",\n" : "\n";
    out += "    {\"page_id\": " + std::to_string(i) + ", \"name\": " + json_string(s.name) +
           ", \"method\": " + json_string(s.method) + ", \"url\": " + json_string(s.url) +
           ", \"requests\": " + number(s.requests) + "}";
  }
  out += m.services.empty() ? "]\n" : "\n  ]\n";
  return out + "}\n";
}

bool parse_manifest(const std::string &text, Manifest *m, std::string *error) {
  *m = Manifest{};
  error->clear();
  Json root;
  if (!parse_json(text, &root, error)) return false;
  if (!root.is_object()) return *error = "not a JSON object", false;
  JsonFields top{root, "", error};
  m->format = static_cast<int>(top.count_up_to("format", 1000000));
  if (!top.ok()) return false;
  if (m->format != 1)
    return *error = "format " + std::to_string(m->format) + " is not known here (format 1 is)",
           false;
  m->tool = top.text("tool");
  m->tool_version = top.text("tool_version");
  m->made_at = top.text("made_at");
  m->config = top.text("config");
  m->capture_start_ms = top.count_up_to("capture_start_ms", kMaxClockMs);
  m->capture_start = top.text("capture_start");
  m->workers = static_cast<int>(top.count_up_to("workers", kMaxPackageWorkers));
  m->users = top.count("users");
  m->requests = top.count("requests");
  const Json *files = top.list("files");
  for (size_t i = 0; files && top.ok() && i < files->size(); i++) {
    JsonFields in{(*files)[i], "files[" + std::to_string(i) + "]", error};
    ManifestWorker w;
    w.worker = static_cast<int>(in.count_up_to("worker", kMaxPackageWorkers - 1));
    w.users = in.count("users");
    w.requests = in.count("requests");
    read_file_entry(in, "request_file", &w.request_file);
    read_file_entry(in, "index_file", &w.index_file);
    m->files.push_back(w);
  }
  const Json *services = top.list("services");
  for (size_t i = 0; services && top.ok() && i < services->size(); i++) {
    JsonFields in{(*services)[i], "services[" + std::to_string(i) + "]", error};
    ManifestService s;
    s.page_id = static_cast<int>(in.count_up_to("page_id", 65535));
    s.name = in.text("name");
    s.method = in.text("method");
    s.url = in.text("url");
    s.requests = in.count("requests");
    m->services.push_back(s);
  }
  if (!top.ok() || !check_listing(*m, error)) return false;
  m->identity = package_identity(text);
  return true;
}

const ManifestService *manifest_service(const Manifest &m, int page_id) {
  if (page_id >= 0 && static_cast<size_t>(page_id) < m.services.size() &&
      m.services[static_cast<size_t>(page_id)].page_id == page_id)
    return &m.services[static_cast<size_t>(page_id)];
  for (const ManifestService &s : m.services)
    if (s.page_id == page_id) return &s;
  return nullptr;
}

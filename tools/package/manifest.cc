#include "tools/package/manifest.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/core/input_file.h"
#include "base/core/digest.h"
#include "tools/package/json_reader.h"

const char kManifestFile[] = "vt_manifest.json";

namespace {

constexpr int kMaxWorkers = 256;

// Reads the members of one object into fields, naming the first that is
// missing or of the wrong type.
struct Fields {
  const JsonValue &object;
  std::string where;  // "", "files[2]", ...
  std::string *error;

  bool missing(const char *key, const char *what) {
    *error = (where.empty() ? "" : where + ": ") + "\"" + key + "\" " + what;
    return false;
  }
  bool text(const char *key, std::string *out) {
    return json_text(json_member(object, key), out) || missing(key, "must be a string");
  }
  bool count(const char *key, uint64_t *out) {
    return json_u64(json_member(object, key), out) || missing(key, "must be a whole number");
  }
  bool small(const char *key, int limit, int *out) {
    uint64_t n = 0;
    if (!json_u64(json_member(object, key), &n) || n > static_cast<uint64_t>(limit))
      return missing(key, ("must be a whole number up to " + std::to_string(limit)).c_str());
    *out = static_cast<int>(n);
    return true;
  }
  const JsonValue *list(const char *key) {
    const JsonValue *v = json_member(object, key);
    if (v && v->kind == JsonValue::kArray) return v;
    missing(key, "must be a list");
    return nullptr;
  }
};

bool is_digest(const std::string &s) {
  return s.size() == 2 * kDigestSize && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool read_file_entry(const JsonValue &files_item, const char *key, const std::string &where,
                     ManifestFile *f, std::string *error) {
  const JsonValue *v = json_member(files_item, key);
  if (!v || v->kind != JsonValue::kObject) {
    *error = where + ": \"" + key + "\" must be an object";
    return false;
  }
  Fields in{*v, where + "." + key, error};
  if (!in.text("name", &f->name) || !in.count("size", &f->size) || !in.text(kDigestField, &f->digest))
    return false;
  if (!is_digest(f->digest))
    return in.missing(kDigestField, "must be 32 lower-case hexadecimal digits");
  return true;
}

}  // namespace

bool parse_manifest(const std::string &text, Manifest *m, std::string *error) {
  *m = Manifest{};
  JsonValue root;
  if (!json_parse(text, &root, error)) return false;
  if (root.kind != JsonValue::kObject) {
    *error = "not a JSON object";
    return false;
  }
  Fields top{root, "", error};
  if (!top.small("format", 1000000, &m->format)) return false;
  if (m->format != 1) {
    *error = "format " + std::to_string(m->format) + " is not known here (format 1 is)";
    return false;
  }
  if (!top.text("tool", &m->tool) || !top.text("tool_version", &m->tool_version) ||
      !top.text("made_at", &m->made_at) || !top.text("config", &m->config) ||
      !top.count("capture_start_ms", &m->capture_start_ms) ||
      !top.text("capture_start", &m->capture_start) ||
      !top.small("workers", kMaxWorkers, &m->workers))
    return false;
  const JsonValue *files = top.list("files");
  if (!files) return false;
  for (size_t i = 0; i < files->items.size(); i++) {
    const JsonValue &item = files->items[i];
    std::string where = "files[" + std::to_string(i) + "]";
    Fields in{item, where, error};
    ManifestWorker w;
    if (!in.small("worker", kMaxWorkers - 1, &w.worker) || !in.count("users", &w.users) ||
        !in.count("requests", &w.requests) ||
        !read_file_entry(item, "request_file", where, &w.request_file, error) ||
        !read_file_entry(item, "index_file", where, &w.index_file, error))
      return false;
    m->files.push_back(w);
  }
  const JsonValue *services = top.list("services");
  if (!services) return false;
  for (size_t i = 0; i < services->items.size(); i++) {
    Fields in{services->items[i], "services[" + std::to_string(i) + "]", error};
    ManifestService s;
    if (!in.small("page_id", 65535, &s.page_id) || !in.text("name", &s.name) ||
        !in.text("method", &s.method) || !in.text("url", &s.url) ||
        !in.count("requests", &s.requests))
      return false;
    m->services.push_back(s);
  }
  return true;
}

ManifestState read_manifest(const std::string &dir, Manifest *m, std::string *error) {
  std::string path = dir + "/" + kManifestFile;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) return ManifestState::kAbsent;
  std::string text, why;
  if (!vtlb_read_regular_file(path, &text, &why)) {
    *error = path + ": " + why;
    return ManifestState::kUnreadable;
  }
  if (!parse_manifest(text, m, error)) {
    *error = path + ": " + *error;
    return ManifestState::kUnreadable;
  }
  return ManifestState::kRead;
}

std::vector<std::string> verify_manifest(const std::string &dir, const Manifest &m) {
  std::vector<std::string> problems;
  std::string listed = std::to_string(m.workers) + (m.workers == 1 ? " worker" : " workers");
  if (m.files.size() != static_cast<size_t>(m.workers))
    problems.push_back(std::string(kManifestFile) + ": lists " + listed + " but " +
                       std::to_string(m.files.size()) + " workers' files");
  for (size_t i = 0; i < m.files.size(); i++) {
    const ManifestWorker &w = m.files[i];
    std::string req = "vt_req_" + std::to_string(i), index = "vt_index_" + std::to_string(i);
    if (w.worker != static_cast<int>(i) || w.request_file.name != req ||
        w.index_file.name != index) {
      problems.push_back(std::string(kManifestFile) + ": files[" + std::to_string(i) +
                         "] is not worker " + std::to_string(i) + " with " + req + " and " +
                         index);
      continue;
    }
    for (const ManifestFile *f : {&w.request_file, &w.index_file}) {
      std::string hex, why;
      uint64_t size = 0;
      if (!vtlb_digest_file((dir + "/" + f->name).c_str(), &hex, &size, &why)) {
        problems.push_back(f->name + ": " + (errno == ENOENT ? "missing" : why) +
                           ", the manifest lists it");
      } else if (size != f->size) {
        problems.push_back(f->name + ": " + std::to_string(size) + " bytes where the manifest says " +
                           std::to_string(f->size));
      } else if (hex != f->digest) {
        problems.push_back(f->name + ": digest differs from the manifest's (the file changed)");
      }
    }
  }
  // A worker beyond the listed ones: files the run did not make.
  struct stat st;
  for (const char *prefix : {"vt_req_", "vt_index_"}) {
    std::string name = prefix + std::to_string(m.workers);
    if (stat((dir + "/" + name).c_str(), &st) == 0)
      problems.push_back(name + ": a worker the manifest does not list (it lists " + listed + ")");
  }
  return problems;
}

const ManifestService *manifest_service(const Manifest &m, int page_id) {
  if (page_id >= 0 && static_cast<size_t>(page_id) < m.services.size() &&
      m.services[static_cast<size_t>(page_id)].page_id == page_id)
    return &m.services[static_cast<size_t>(page_id)];
  for (const ManifestService &s : m.services)
    if (s.page_id == page_id) return &s;
  return nullptr;
}

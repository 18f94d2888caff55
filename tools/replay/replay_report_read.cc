#include "tools/replay/replay_report_read.h"

#include <errno.h>
#include <stdlib.h>

#include "base/core/input_file.h"
#include "tools/package/json_reader.h"

namespace {

// Reads members of a report, keeping the first fault.
struct Fields {
  std::string error;

  bool fail(const std::string &what) {
    if (error.empty()) error = what;
    return false;
  }
  const JsonValue *need(const JsonValue &obj, const char *key, JsonValue::Kind kind,
                        const char *what) {
    const JsonValue *v = json_member(obj, key);
    if (!v || v->kind != kind) {
      fail(std::string("\"") + key + "\" must be " + what);
      return nullptr;
    }
    return v;
  }
  uint64_t u64(const JsonValue &obj, const char *key) {
    uint64_t n = 0;
    if (!json_u64(json_member(obj, key), &n)) fail(std::string("\"") + key + "\" must be a count");
    return n;
  }
  int64_t i64(const JsonValue &obj, const char *key) {
    const JsonValue *v = json_member(obj, key);
    if (v && v->kind == JsonValue::kNull) return -1;
    if (!v || v->kind != JsonValue::kNumber) {
      fail(std::string("\"") + key + "\" must be a whole number");
      return 0;
    }
    char *end;
    errno = 0;
    long long n = strtoll(v->text.c_str(), &end, 10);
    if (*end || errno) fail(std::string("\"") + key + "\" must be a whole number");
    return n;
  }
  double real(const JsonValue &obj, const char *key) {
    const JsonValue *v = json_member(obj, key);
    if (!v || v->kind != JsonValue::kNumber) {
      fail(std::string("\"") + key + "\" must be a number");
      return 0;
    }
    return strtod(v->text.c_str(), nullptr);
  }
  std::string text(const JsonValue &obj, const char *key) {
    std::string t;
    if (!json_text(json_member(obj, key), &t))
      fail(std::string("\"") + key + "\" must be a string");
    return t;
  }
};

// A fault is left in f.error.
void read_counts(Fields &f, const JsonValue &obj, ReplayCounts *c, bool with_planned) {
  if (with_planned) c->planned = f.u64(obj, "planned");
  c->sent = f.u64(obj, "sent");
  c->completed = f.u64(obj, "completed");
  c->errors = f.u64(obj, "errors");
  uint64_t failed = f.u64(obj, "failed");
  if (failed < c->errors) f.fail("\"failed\" is below \"errors\"");
  c->bad_status = failed < c->errors ? 0 : failed - c->errors;
}

// A [[bucket, count], ...] list, fed to add(bucket, count).
template <typename Add>
bool read_buckets(Fields &f, const JsonValue *list, uint64_t *total, Add add) {
  if (!list || list->kind != JsonValue::kArray) return f.fail("buckets must be a list");
  *total = 0;
  for (const JsonValue &pair : list->items) {
    uint64_t b, n;
    if (pair.kind != JsonValue::kArray || pair.items.size() != 2 || !json_u64(&pair.items[0], &b) ||
        !json_u64(&pair.items[1], &n) || b > INT32_MAX || !add(static_cast<int>(b), n))
      return f.fail("a bucket must be [index, count] with an index in range");
    if (n > UINT64_MAX - *total) return f.fail("the counts of the buckets add up beyond 64 bits");
    *total += n;
  }
  return true;
}

bool read_histogram(Fields &f, const JsonValue *obj, LogHistogram *h, const std::string &what) {
  if (!obj || obj->kind != JsonValue::kObject) return f.fail(what + " must be a histogram");
  h->total = f.u64(*obj, "total");
  h->min = f.u64(*obj, "min");
  h->max = f.u64(*obj, "max");
  h->sum = f.u64(*obj, "sum");
  uint64_t total;
  if (!read_buckets(f, json_member(*obj, "buckets"), &total,
                    [h](int b, uint64_t n) { return histogram_add_to_bucket(h, b, n); }))
    return false;
  if (total != h->total) return f.fail(what + ": its buckets do not add up to its total");
  return f.error.empty();
}

bool read_timeline(Fields &f, const JsonValue &obj, ReplayTimeline *t) {
  t->column_ms = f.u64(obj, "column_ms");
  if (t->column_ms == 0 || (t->column_ms & (t->column_ms - 1)))
    return f.fail("\"column_ms\" must be a power of two");
  const JsonValue *columns = f.need(obj, "columns", JsonValue::kArray, "a list");
  if (!columns) return false;
  for (const JsonValue &c : columns->items) {
    if (c.kind != JsonValue::kObject) return f.fail("a column must be an object");
    uint64_t index = f.u64(c, "column");
    if (index >= kTimelineColumns) return f.fail("a column lies beyond the timeline");
    if (t->columns.size() <= index) t->columns.resize(index + 1);
    ReplayColumn &col = t->columns[index];
    col.planned = f.u64(c, "planned");
    col.sent = f.u64(c, "sent");
    col.completed = f.u64(c, "completed");
    col.failed = f.u64(c, "failed");
    col.lag_max_ns = f.u64(c, "lag_max_ns");
    const JsonValue *failures = f.need(c, "failures", JsonValue::kObject, "an object");
    if (!failures) return false;
    for (const auto &[key, value] : failures->members) {
      uint64_t n;
      if (!json_u64(&value, &n)) return f.fail("a failure count must be a count");
      int k = atoi(key.c_str());
      for (int e = 0; e < kErrorKinds; e++)
        if (key == kReplayErrorNames[e]) k = replay_error_key(e);
      if (k == 0 || (k > 0 && (k < 100 || k > 999)))
        return f.fail("a failure is a status or an error kind, not " + key);
      col.failures[k] += n;
    }
    uint64_t total;
    for (auto [key, h] :
         {std::pair{"latency_ns", &col.latency_ns}, std::pair{"lag_ns", &col.lag_ns}})
      if (!read_buckets(f, json_member(c, key), &total,
                        [h](int b, uint64_t n) { return coarse_add_to_bucket(h, b, n); }))
        return false;
  }
  return f.error.empty();
}

bool read_threshold(Fields &f, const JsonValue &obj, ReplayThreshold *t) {
  t->text = f.text(obj, "threshold");
  std::string kind = f.text(obj, "kind");
  t->kind = kind == "failed"    ? ThresholdKind::kFailed
            : kind == "latency" ? ThresholdKind::kLatency
                                : ThresholdKind::kLag;
  if (kind != "failed" && kind != "latency" && kind != "lag")
    return f.fail("a threshold's kind is failed, latency or lag");
  if (t->kind != ThresholdKind::kFailed) t->percentile = f.real(obj, "percentile");
  t->limit = f.real(obj, "limit");
  const JsonValue *by_default = json_member(obj, "default");
  t->by_default = by_default && by_default->kind == JsonValue::kBool && by_default->boolean;
  return f.error.empty();
}

bool read_report(Fields &f, const JsonValue &root, ReplayReportInfo *info, ReplayStats *s) {
  uint64_t format = 0;
  if (!json_u64(json_member(root, "report_format"), &format) ||
      json_member(root, "tool") == nullptr || f.text(root, "tool") != "vt_replay")
    return f.fail("not a JSON report of vt_replay (vt_replay --json FILE)");
  if (format != kReplayReportFormat)
    return f.fail("report_format " + std::to_string(format) + ", where this vt_replay reads " +
                  std::to_string(kReplayReportFormat));
  info->dir = f.text(root, "package");
  json_text(json_member(root, "package_id"), &info->package_id);
  info->target = f.text(root, "target");
  info->command = f.text(root, "command");
  info->speed = f.real(root, "speed");
  s->stopped_by = f.text(root, "stopped_by");
  s->elapsed_s = f.real(root, "elapsed_s");
  s->planned_span_s = f.real(root, "planned_span_s");
  s->send_span_s = f.real(root, "send_span_s");
  std::string shard;
  if (json_text(json_member(root, "shard"), &shard)) info->shard = shard;
  s->start_unix_us = f.i64(root, "start_unix_us");
  info->capture_start_ms = f.i64(root, "capture_start_ms");
  if (const JsonValue *p = f.need(root, "package_ms", JsonValue::kObject, "an object")) {
    s->package_start_ms = f.i64(*p, "start");
    s->package_last_ms = f.i64(*p, "last");
  }
  if (const JsonValue *r = f.need(root, "requests", JsonValue::kObject, "an object"))
    read_counts(f, *r, &s->counts, true);
  if (const JsonValue *e = f.need(root, "errors", JsonValue::kObject, "an object"))
    for (int k = 0; k < kErrorKinds; k++) s->errors[k] = f.u64(*e, kReplayErrorNames[k]);
  if (const JsonValue *st = f.need(root, "status", JsonValue::kObject, "an object"))
    for (const auto &[code, n] : st->members) {
      uint64_t count;
      int c = atoi(code.c_str());
      if (c < 100 || c > 999 || !json_u64(&n, &count)) return f.fail("\"status\" holds " + code);
      s->status[c] = count;
    }
  std::string why, ok = f.text(root, "ok_status");
  if (f.error.empty() && !parse_status_set(ok, &info->ok_status, &why))
    return f.fail("\"ok_status\": " + why);
  const JsonValue *hists = f.need(root, "histograms", JsonValue::kObject, "an object");
  if (!hists) return false;
  read_histogram(f, json_member(*hists, "latency_ns"), &s->latency_ns, "latency_ns");
  read_histogram(f, json_member(*hists, "lag_ns"), &s->lag_ns, "lag_ns");
  read_histogram(f, json_member(*hists, "handshake_ns"), &s->tls.handshake_ns, "handshake_ns");
  const JsonValue *page_hists = f.need(*hists, "pages", JsonValue::kObject, "an object");
  const JsonValue *worker_hists = f.need(*hists, "workers", JsonValue::kObject, "an object");
  const JsonValue *pages = f.need(root, "pages", JsonValue::kObject, "an object");
  if (!page_hists || !worker_hists || !pages) return false;
  for (const auto &[key, page] : pages->members) {
    char *end;
    long long id = strtoll(key.c_str(), &end, 10);
    if (*end || key.empty() || page.kind != JsonValue::kObject)
      return f.fail("\"pages\" holds " + key);
    ReplayPageStats &ps = s->pages[id];
    read_counts(f, page, &ps.counts, false);
    read_histogram(f, json_member(*page_hists, key.c_str()), &ps.latency_ns, "page " + key);
    std::string name;
    if (json_text(json_member(page, "name"), &name)) info->page_names[id] = name;
  }
  if (const JsonValue *workers = f.need(root, "workers", JsonValue::kArray, "a list"))
    for (const JsonValue &w : workers->items) {
      ReplayWorkerStats ws;
      ws.number = static_cast<int>(f.u64(w, "worker"));
      ws.users = f.u64(w, "users");
      read_counts(f, w, &ws.counts, true);
      std::string key = std::to_string(ws.number);
      read_histogram(f, json_member(*worker_hists, key.c_str()), &ws.latency_ns, "worker " + key);
      if (!s->workers.empty() && s->workers.back().number >= ws.number)
        return f.fail("\"workers\" must be in number order");
      s->workers.push_back(ws);
    }
  if (const JsonValue *b = f.need(root, "bytes", JsonValue::kObject, "an object")) {
    s->bytes_sent = f.u64(*b, "sent");
    s->bytes_received = f.u64(*b, "received");
  }
  s->max_in_flight = f.u64(root, "max_in_flight");
  s->bytes_per_in_flight = f.u64(root, "bytes_per_in_flight");
  s->retries = f.u64(root, "retries");
  const JsonValue *tls = json_member(root, "tls");
  if (tls && tls->kind == JsonValue::kObject) {
    info->tls = true;
    const JsonValue *verified = json_member(*tls, "verified");
    info->tls_verified = verified && verified->kind == JsonValue::kBool && verified->boolean;
    info->tls_name = f.text(*tls, "name");
    s->tls.handshakes = f.u64(*tls, "handshakes");
    s->tls.resumed = f.u64(*tls, "resumed");
    json_text(json_member(*tls, "first_failure"), &s->tls.first_failure);
  }
  if (const JsonValue *rewrites = f.need(root, "rewrites", JsonValue::kArray, "a list"))
    for (const JsonValue &r : rewrites->items) {
      ReplayHeaderRule rule;
      rule.name = f.text(r, "header");
      rule.remove = !json_text(json_member(r, "value"), &rule.value);
      info->rewrites.push_back(rule);
      s->rewrites.push_back({f.u64(r, "replaced"), f.u64(r, "added"), f.u64(r, "removed")});
    }
  if (const JsonValue *thresholds = f.need(root, "thresholds", JsonValue::kArray, "a list"))
    for (const JsonValue &t : thresholds->items) {
      ReplayThreshold threshold;
      if (read_threshold(f, t, &threshold)) info->threshold_list.push_back(threshold);
    }
  if (const JsonValue *t = f.need(root, "timeline", JsonValue::kObject, "an object"))
    read_timeline(f, *t, &s->timeline);
  return f.error.empty();
}

}  // namespace

bool read_replay_report(const std::string &path, ReplayReportInfo *info, ReplayStats *s,
                        std::string *error) {
  std::string text, why;
  if (!vtlb_read_regular_file(path, &text, &why)) {
    *error = "cannot read " + path + ": " + why;
    return false;
  }
  JsonValue root;
  if (!json_parse(text, &root, &why)) {
    *error = path + ": " + why;
    return false;
  }
  *info = ReplayReportInfo{};
  *s = ReplayStats{};
  s->timeline.columns.clear();
  Fields f;
  if (root.kind != JsonValue::kObject || !read_report(f, root, info, s)) {
    *error = path + ": " + (f.error.empty() ? "not a JSON report of vt_replay" : f.error);
    return false;
  }
  return true;
}

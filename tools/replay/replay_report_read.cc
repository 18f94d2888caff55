#include "tools/replay/replay_report_read.h"

#include <stdlib.h>

#include "base/core/input_file.h"
#include "base/package/json_read.h"

namespace {

// A fault of the report is kept in *f.error, the first one only.
void read_counts(JsonFields &f, ReplayCounts *c, bool with_planned) {
  if (with_planned) c->planned = f.count("planned");
  c->sent = f.count("sent");
  c->completed = f.count("completed");
  c->errors = f.count("errors");
  uint64_t failed = f.count("failed");
  if (failed < c->errors) f.fail("\"failed\" is below \"errors\"");
  c->bad_status = failed < c->errors ? 0 : failed - c->errors;
}

// A [[bucket, count], ...] list, fed to add(bucket, count).
template <typename Add>
bool read_buckets(JsonFields &f, const Json *list, uint64_t *total, Add add) {
  if (!list || !list->is_array()) return f.fail("buckets must be a list");
  *total = 0;
  for (const Json &pair : *list) {
    uint64_t b, n;
    if (!pair.is_array() || pair.size() != 2 || !json_count(pair[0], &b) ||
        !json_count(pair[1], &n) || b > INT32_MAX || !add(static_cast<int>(b), n))
      return f.fail("a bucket must be [index, count] with an index in range");
    if (n > UINT64_MAX - *total) return f.fail("the counts of the buckets add up beyond 64 bits");
    *total += n;
  }
  return true;
}

bool read_histogram(JsonFields &f, const Json *obj, LogHistogram *h, const std::string &what) {
  if (!obj || !obj->is_object()) return f.fail(what + " must be a histogram");
  JsonFields in{*obj, "", f.error};
  h->total = in.count("total");
  h->min = in.count("min");
  h->max = in.count("max");
  h->sum = in.count("sum");
  uint64_t total = 0;
  if (!read_buckets(in, in.member("buckets"), &total,
                    [h](int b, uint64_t n) { return histogram_add_to_bucket(h, b, n); }))
    return false;
  if (total != h->total) return f.fail(what + ": its buckets do not add up to its total");
  return f.ok();
}

const Json *member(const Json &obj, const std::string &key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

bool read_timeline(JsonFields &f, ReplayTimeline *t) {
  t->column_ms = f.count("column_ms");
  if (t->column_ms == 0 || (t->column_ms & (t->column_ms - 1)))
    return f.fail("\"column_ms\" must be a power of two");
  const Json *columns = f.list("columns");
  if (!columns) return false;
  for (const Json &c : *columns) {
    if (!c.is_object()) return f.fail("a column must be an object");
    JsonFields in{c, "", f.error};
    uint64_t index = in.count("column");
    if (index >= kTimelineColumns) return f.fail("a column lies beyond the timeline");
    if (t->columns.size() <= index) t->columns.resize(index + 1);
    ReplayColumn &col = t->columns[index];
    col.planned = in.count("planned");
    col.sent = in.count("sent");
    col.completed = in.count("completed");
    col.failed = in.count("failed");
    col.lag_max_ns = in.count("lag_max_ns");
    const Json *failures = in.object_of("failures");
    if (!failures) return false;
    for (const auto &[key, value] : failures->items()) {
      uint64_t n;
      if (!json_count(value, &n)) return f.fail("a failure count must be a count");
      int k = atoi(key.c_str());
      for (int e = 0; e < kErrorKinds; e++)
        if (key == kReplayErrorNames[e]) k = replay_error_key(e);
      if (k == 0 || (k > 0 && (k < 100 || k > 999)))
        return f.fail("a failure is a status or an error kind, not " + key);
      col.failures[k] += n;
    }
    uint64_t total = 0;
    for (auto [key, h] :
         {std::pair{"latency_ns", &col.latency_ns}, std::pair{"lag_ns", &col.lag_ns}})
      if (!read_buckets(in, in.member(key), &total,
                        [h](int b, uint64_t n) { return coarse_add_to_bucket(h, b, n); }))
        return false;
  }
  return f.ok();
}

bool read_threshold(JsonFields &f, ReplayThreshold *t) {
  t->text = f.text("threshold");
  std::string kind = f.text("kind");
  t->kind = kind == "failed"    ? ThresholdKind::kFailed
            : kind == "latency" ? ThresholdKind::kLatency
                                : ThresholdKind::kLag;
  if (kind != "failed" && kind != "latency" && kind != "lag")
    return f.fail("a threshold's kind is failed, latency or lag");
  if (t->kind != ThresholdKind::kFailed) t->percentile = f.real("percentile");
  t->limit = f.real("limit");
  if (const Json *d = f.member("default"); d && d->is_boolean()) t->by_default = d->get<bool>();
  return f.ok();
}

bool read_report(JsonFields &f, ReplayReportInfo *info, ReplayStats *s) {
  const Json *format = f.member("report_format"), *tool = f.member("tool");
  uint64_t version = 0;
  if (!format || !json_count(*format, &version) || !tool || *tool != "vt_replay")
    return f.fail("not a JSON report of vt_replay (vt_replay --json FILE)");
  if (version != kReplayReportFormat)
    return f.fail("report_format " + std::to_string(version) + ", where this vt_replay reads " +
                  std::to_string(kReplayReportFormat));
  info->dir = f.text("package");
  if (const Json *id = f.member("package_id"); id && id->is_string())
    info->package_id = id->get<std::string>();
  info->target = f.text("target");
  info->command = f.text("command");
  info->speed = f.real("speed");
  if (const Json *mode = f.member("mode"); mode && mode->is_string())
    info->mode = mode->get<std::string>();
  s->stopped_by = f.text("stopped_by");
  s->elapsed_s = f.real("elapsed_s");
  s->planned_span_s = f.real("planned_span_s");
  s->send_span_s = f.real("send_span_s");
  if (const Json *shard = f.member("shard"); shard && shard->is_string())
    info->shard = shard->get<std::string>();
  s->start_unix_us = f.whole("start_unix_us");
  info->capture_start_ms = f.whole("capture_start_ms");
  if (const Json *p = f.object_of("package_ms")) {
    JsonFields in{*p, "", f.error};
    s->package_start_ms = in.whole("start");
    s->package_last_ms = in.whole("last");
  }
  if (const Json *r = f.object_of("requests")) {
    JsonFields in{*r, "", f.error};
    read_counts(in, &s->counts, true);
  }
  if (const Json *e = f.object_of("errors")) {
    JsonFields in{*e, "", f.error};
    for (int k = 0; k < kErrorKinds; k++) s->errors[k] = in.count(kReplayErrorNames[k]);
  }
  if (const Json *st = f.object_of("status"))
    for (const auto &[code, n] : st->items()) {
      uint64_t count;
      int c = atoi(code.c_str());
      if (c < 100 || c > 999 || !json_count(n, &count)) return f.fail("\"status\" holds " + code);
      s->status[c] = count;
    }
  std::string why, ok = f.text("ok_status");
  if (f.ok() && !parse_status_set(ok, &info->ok_status, &why))
    return f.fail("\"ok_status\": " + why);
  const Json *hists = f.object_of("histograms");
  if (!hists) return false;
  JsonFields h{*hists, "", f.error};
  read_histogram(f, h.member("latency_ns"), &s->latency_ns, "latency_ns");
  read_histogram(f, h.member("lag_ns"), &s->lag_ns, "lag_ns");
  read_histogram(f, h.member("handshake_ns"), &s->tls.handshake_ns, "handshake_ns");
  const Json *page_hists = h.object_of("pages");
  const Json *worker_hists = h.object_of("workers");
  const Json *pages = f.object_of("pages");
  if (!page_hists || !worker_hists || !pages) return false;
  for (const auto &[key, page] : pages->items()) {
    char *end;
    long long id = strtoll(key.c_str(), &end, 10);
    if (*end || key.empty() || !page.is_object()) return f.fail("\"pages\" holds " + key);
    ReplayPageStats &ps = s->pages[id];
    JsonFields in{page, "", f.error};
    read_counts(in, &ps.counts, false);
    read_histogram(f, member(*page_hists, key), &ps.latency_ns, "page " + key);
    if (const Json *name = in.member("name"); name && name->is_string())
      info->page_names[id] = name->get<std::string>();
  }
  if (const Json *workers = f.list("workers"))
    for (const Json &w : *workers) {
      JsonFields in{w, "", f.error};
      ReplayWorkerStats ws;
      ws.number = static_cast<int>(in.count_up_to("worker", INT32_MAX));
      ws.users = in.count("users");
      read_counts(in, &ws.counts, true);
      std::string key = std::to_string(ws.number);
      read_histogram(f, member(*worker_hists, key), &ws.latency_ns, "worker " + key);
      if (!s->workers.empty() && s->workers.back().number >= ws.number)
        return f.fail("\"workers\" must be in number order");
      s->workers.push_back(ws);
    }
  if (const Json *b = f.object_of("bytes")) {
    JsonFields in{*b, "", f.error};
    s->bytes_sent = in.count("sent");
    s->bytes_received = in.count("received");
  }
  s->max_in_flight = f.count("max_in_flight");
  s->bytes_per_in_flight = f.count("bytes_per_in_flight");
  s->retries = f.count("retries");
  if (const Json *tls = f.member("tls"); tls && tls->is_object()) {
    JsonFields in{*tls, "", f.error};
    info->tls = true;
    const Json *verified = in.member("verified");
    info->tls_verified = verified && verified->is_boolean() && verified->get<bool>();
    info->tls_name = in.text("name");
    s->tls.handshakes = in.count("handshakes");
    s->tls.resumed = in.count("resumed");
    if (const Json *first = in.member("first_failure"); first && first->is_string())
      s->tls.first_failure = first->get<std::string>();
  }
  if (const Json *rewrites = f.list("rewrites"))
    for (const Json &r : *rewrites) {
      JsonFields in{r, "", f.error};
      ReplayHeaderRule rule;
      rule.name = in.text("header");
      const Json *value = in.member("value");
      rule.remove = !value || !value->is_string();
      if (!rule.remove) rule.value = value->get<std::string>();
      info->rewrites.push_back(rule);
      s->rewrites.push_back({in.count("replaced"), in.count("added"), in.count("removed")});
    }
  // (absent from the reports of runs before --rewrite-path)
  if (const Json *paths = f.member("path_rewrites"); paths && paths->is_array())
    for (const Json &r : *paths) {
      JsonFields in{r, "", f.error};
      info->path_rules.push_back({in.text("from"), in.text("to")});
      s->path_rewrites.push_back(in.count("rewritten"));
    }
  if (const Json *thresholds = f.list("thresholds"))
    for (const Json &t : *thresholds) {
      JsonFields in{t, "", f.error};
      ReplayThreshold threshold;
      if (read_threshold(in, &threshold)) info->threshold_list.push_back(threshold);
    }
  if (const Json *t = f.object_of("timeline")) {
    JsonFields in{*t, "", f.error};
    read_timeline(in, &s->timeline);
  }
  return f.ok();
}

}  // namespace

bool read_replay_report(const std::string &path, ReplayReportInfo *info, ReplayStats *s,
                        std::string *error) {
  std::string text, why;
  if (!vtlb_read_regular_file(path, &text, &why)) {
    *error = "cannot read " + path + ": " + why;
    return false;
  }
  Json root;
  if (!parse_json(text, &root, &why)) {
    *error = path + ": " + why;
    return false;
  }
  *info = ReplayReportInfo{};
  *s = ReplayStats{};
  s->timeline.columns.clear();
  std::string fault;
  JsonFields f{root, "", &fault};
  if (!root.is_object() || !read_report(f, info, s)) {
    *error = path + ": " + (fault.empty() ? "not a JSON report of vt_replay" : fault);
    return false;
  }
  return true;
}

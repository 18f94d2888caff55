#include "base/figures/replay_results.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

#include "base/core/input_file.h"
#include "base/core/safe_file.h"

const char kResultsCsvHeader[] =
    "planned_ms,sent_ms,lag_ms,latency_ms,status,error,ok,bytes_out,bytes_in,page,worker,user\n";

namespace {

// The keys of a line, in the order they are written.
const char *const kKeys[] = {"planned_ms", "sent_ms",   "lag_ms",   "latency_ms", "status", "error",
                             "ok",         "bytes_out", "bytes_in", "page",       "worker", "user"};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

void put_int(std::string *out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, r.ptr);
}

void put_u64(std::string *out, uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, r.ptr);
}

// Nanoseconds as milliseconds with six decimals.
void put_ms(std::string *out, uint64_t ns) {
  put_u64(out, ns / 1000000);
  char frac[8] = {'.'};
  uint64_t rest = ns % 1000000;
  for (int i = 6; i >= 1; i--) {
    frac[i] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  }
  out->append(frac, 7);
}

}  // namespace

ReplayResultsFormat replay_results_format(const std::string &path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".csv") == 0
             ? ReplayResultsFormat::kCsv
             : ReplayResultsFormat::kJsonLines;
}

void append_result_line(std::string *out, ReplayResultsFormat format, const ReplayOutcome &o,
                        int worker_number) {
  bool csv = format == ReplayResultsFormat::kCsv;
  bool sent = o.sent_ns >= 0;
  const char *none = csv ? "" : "null";
  int field = 0;
  auto key = [&]() {
    if (csv) {
      if (field) out->push_back(',');
    } else {
      out->append(field ? ",\"" : "{\"");
      out->append(kKeys[field]);
      out->append("\":");
    }
    field++;
  };
  key();
  put_ms(out, static_cast<uint64_t>(std::max<int64_t>(0, o.planned_ns)));
  key();
  if (sent)
    put_ms(out, static_cast<uint64_t>(o.sent_ns));
  else
    out->append(none);
  key();
  if (sent)
    put_ms(out, static_cast<uint64_t>(std::max<int64_t>(0, o.sent_ns - o.planned_ns)));
  else
    out->append(none);
  key();
  if (o.status > 0)
    put_ms(out, o.latency_ns);
  else
    out->append(none);
  key();
  if (o.status > 0)
    put_int(out, o.status);
  else
    out->append(none);
  key();
  if (o.status > 0) {
    out->append(none);
  } else {
    if (!csv) out->push_back('"');
    out->append(kReplayErrorNames[o.error_kind]);
    if (!csv) out->push_back('"');
  }
  key();
  out->append(o.status > 0 && o.ok ? "true" : "false");
  key();
  put_u64(out, o.bytes_out);
  key();
  put_u64(out, o.bytes_in);
  key();
  put_int(out, o.page);
  key();
  put_int(out, worker_number);
  key();
  put_u64(out, o.user);
  out->append(csv ? "\n" : "}\n");
}

bool open_results_file(const std::string &path, ReplayResultsFile *f, std::string *error) {
  int fd = vtlb_create_new_file(path.c_str(), O_WRONLY, 0644);
  if (fd < 0) {
    *error = errno == EEXIST ? path + " exists already; the results go into a new file"
                             : "cannot create " + path + ": " + strerror(errno);
    return false;
  }
  return begin_results_file(path, fd, f, error);
}

bool begin_results_file(const std::string &path, int fd, ReplayResultsFile *f, std::string *error) {
  f->path = path;
  f->format = replay_results_format(path);
  f->fd = fd;
  if (f->format == ReplayResultsFormat::kCsv &&
      !vtlb_write_all(f->fd, kResultsCsvHeader, sizeof kResultsCsvHeader - 1)) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

void flush_results(ReplayResultsFile *f, std::string *buffer) {
  if (buffer->empty()) return;
  std::lock_guard<std::mutex> hold(f->lock);
  if (f->error.empty() && !vtlb_write_all(f->fd, buffer->data(), buffer->size()))
    f->error = "cannot write " + f->path + ": " + strerror(errno);
  buffer->clear();
}

bool close_results_file(ReplayResultsFile *f, std::string *error) {
  if (f->fd >= 0 && close(f->fd) != 0 && f->error.empty())
    f->error = "cannot write " + f->path + ": " + strerror(errno);
  f->fd = -1;
  if (f->error.empty()) return true;
  *error = f->error;
  return false;
}

// ---- reading a results file back

namespace {

// The values of one line by key; absent or null values are empty.
struct Fields {
  std::string_view value[kKeyCount];
};

bool read_ms(std::string_view text, int64_t *ns) {
  size_t dot = text.find('.');
  std::string_view whole = text.substr(0, dot), frac;
  if (dot != std::string_view::npos) frac = text.substr(dot + 1);
  uint64_t ms = 0, part = 0;
  if (whole.empty() || frac.size() > 9) return false;
  auto r = std::from_chars(whole.data(), whole.data() + whole.size(), ms);
  if (r.ec != std::errc() || r.ptr != whole.data() + whole.size() || ms > 9000000000000ull)
    return false;
  for (size_t i = 0; i < 6; i++) {
    char c = i < frac.size() ? frac[i] : '0';
    if (c < '0' || c > '9') return false;
    part = part * 10 + static_cast<uint64_t>(c - '0');
  }
  for (size_t i = 6; i < frac.size(); i++)
    if (frac[i] < '0' || frac[i] > '9') return false;
  *ns = static_cast<int64_t>(ms * 1000000 + part);
  return true;
}

template <typename T>
bool read_number(std::string_view text, T *v) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), *v);
  return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
}

int key_index(std::string_view key) {
  for (int k = 0; k < kKeyCount; k++)
    if (key == kKeys[k]) return k;
  return -1;
}

// {"key":value,...} with values that are numbers, strings without escapes,
// true, false or null.
bool split_json_line(std::string_view line, Fields *f) {
  size_t i = 0;
  auto skip = [&]() {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
  };
  skip();
  if (i >= line.size() || line[i++] != '{') return false;
  while (true) {
    skip();
    if (i >= line.size() || line[i] != '"') return false;
    size_t end = line.find('"', i + 1);
    if (end == std::string_view::npos) return false;
    int k = key_index(line.substr(i + 1, end - i - 1));
    i = end + 1;
    skip();
    if (i >= line.size() || line[i++] != ':') return false;
    skip();
    size_t start = i;
    if (i < line.size() && line[i] == '"') {
      end = line.find('"', i + 1);
      if (end == std::string_view::npos) return false;
      start = i + 1;
      i = end + 1;
    } else {
      while (i < line.size() && line[i] != ',' && line[i] != '}' && line[i] != ' ') i++;
      end = i;
    }
    std::string_view value = line.substr(start, end - start);
    if (k >= 0) f->value[k] = value == "null" ? std::string_view() : value;
    skip();
    if (i < line.size() && line[i] == ',') {
      i++;
      continue;
    }
    if (i < line.size() && line[i] == '}') return true;
    return false;
  }
}

bool split_csv_line(std::string_view line, const std::vector<int> &columns, Fields *f) {
  size_t at = 0;
  for (size_t c = 0;; c++) {
    size_t comma = line.find(',', at);
    std::string_view value =
        line.substr(at, comma == std::string_view::npos ? line.npos : comma - at);
    if (c >= columns.size()) return false;
    if (columns[c] >= 0) f->value[columns[c]] = value;
    if (comma == std::string_view::npos) return c + 1 == columns.size();
    at = comma + 1;
  }
}

// The outcome a line tells; false with *why.
bool line_outcome(const Fields &f, ReplayOutcome *o, int *worker, std::string *why) {
  const std::string_view *v = f.value;
  if (!read_ms(v[0], &o->planned_ns)) return *why = "planned_ms is no time in ms", false;
  o->sent_ns = -1;
  if (!v[1].empty() && !read_ms(v[1], &o->sent_ns)) return *why = "sent_ms is no time in ms", false;
  o->status = 0;
  if (!v[4].empty()) {
    if (!read_number(v[4], &o->status) || o->status < 100 || o->status > 999)
      return *why = "status is no status code", false;
    int64_t latency;
    if (!read_ms(v[3], &latency)) return *why = "an answer without latency_ms", false;
    o->latency_ns = static_cast<uint64_t>(latency);
  } else {
    int kind = -1;
    for (int k = 0; k < kErrorKinds; k++)
      if (v[5] == kReplayErrorNames[k]) kind = k;
    if (kind < 0) return *why = "neither a status nor an error kind", false;
    o->error_kind = kind;
  }
  if (v[6] != "true" && v[6] != "false") return *why = "ok is neither true nor false", false;
  o->ok = v[6] == "true";
  if (!read_number(v[7], &o->bytes_out) || !read_number(v[8], &o->bytes_in) ||
      !read_number(v[9], &o->page) || !read_number(v[10], worker) || *worker < 0 ||
      !read_number(v[11], &o->user))
    return *why = "bytes_out, bytes_in, page, worker or user is no number", false;
  o->ended_ns = std::max(o->planned_ns, o->sent_ns) + static_cast<int64_t>(o->latency_ns);
  return true;
}

}  // namespace

bool read_results_file(const std::string &path, ReplayStats *into, std::string *error) {
  std::string why;
  int fd = vtlb_open_regular_file(path.c_str(), O_RDONLY, &why);
  FILE *in = fd < 0 ? nullptr : fdopen(fd, "r");
  if (!in) {
    if (fd >= 0) close(fd);
    *error = "cannot open " + path + ": " + (fd < 0 ? why : strerror(errno));
    return false;
  }
  ReplayStats s;
  timeline_begin(&s.timeline, 0);
  std::map<int, uint32_t> position;  // worker number -> position in s.workers
  std::map<int, std::set<uint64_t>> users;
  std::vector<int> columns;  // CSV: the key of each column
  bool csv = false;
  char *line = nullptr;
  size_t cap = 0;
  ssize_t got;
  uint64_t number = 0;
  int64_t last_planned = 0, last_sent = -1, last_end = 0;
  bool ok = true;
  while (ok && (got = getline(&line, &cap, in)) > 0) {
    number++;
    std::string_view text(line, static_cast<size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (text.empty()) continue;
    if (number == 1 && text[0] != '{') {
      csv = true;
      size_t at = 0;
      while (true) {
        size_t comma = text.find(',', at);
        columns.push_back(key_index(text.substr(at, comma == text.npos ? text.npos : comma - at)));
        if (comma == text.npos) break;
        at = comma + 1;
      }
      for (int k = 0; k < kKeyCount && ok; k++)
        if (std::find(columns.begin(), columns.end(), k) == columns.end()) {
          *error = path + ": not a results file (no column " + kKeys[k] + " in its first line)";
          ok = false;
        }
      continue;
    }
    Fields f;
    ReplayOutcome o;
    int worker = 0;
    bool split = csv ? split_csv_line(text, columns, &f) : split_json_line(text, &f);
    if (!split || !line_outcome(f, &o, &worker, &why)) {
      *error = path + " line " + std::to_string(number) + ": " +
               (split ? why
                      : std::string(csv ? "not a CSV line of a results file"
                                        : "not a JSON line of a results file"));
      ok = false;
      break;
    }
    auto [at, fresh] = position.emplace(worker, static_cast<uint32_t>(s.workers.size()));
    if (fresh) {
      s.workers.emplace_back();
      s.workers.back().number = worker;
    }
    o.worker = at->second;
    users[worker].insert(o.user);
    tally_planned(&s, o.worker, o.planned_ns);
    tally_outcome(&s, o);
    last_planned = std::max(last_planned, o.planned_ns);
    last_sent = std::max(last_sent, o.sent_ns);
    last_end = std::max(last_end, o.ended_ns);
  }
  if (ok && ferror(in)) {
    *error = "cannot read " + path + ": " + strerror(errno);
    ok = false;
  }
  free(line);
  fclose(in);
  if (!ok) return false;
  for (ReplayWorkerStats &w : s.workers) w.users = users[w.number].size();
  std::sort(
      s.workers.begin(), s.workers.end(),
      [](const ReplayWorkerStats &a, const ReplayWorkerStats &b) { return a.number < b.number; });
  s.planned_span_s = static_cast<double>(last_planned) / 1e9;
  s.send_span_s = last_sent > 0 ? static_cast<double>(last_sent) / 1e9 : 0;
  s.elapsed_s = static_cast<double>(last_end) / 1e9;
  merge_replay_stats(into, s);
  into->planned_span_s = std::max(into->planned_span_s, s.planned_span_s);
  into->send_span_s = std::max(into->send_span_s, s.send_span_s);
  into->elapsed_s = std::max(into->elapsed_s, s.elapsed_s);
  return true;
}

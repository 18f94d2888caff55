#include "tools/loggen/loggen_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "base/core/input_file.h"
#include "tools/loggen/loggen_records.h"

namespace {

constexpr size_t kOutBufSize = 8 << 20;

struct Progress {
  bool on = false;
  uint64_t total = 0;
  uint64_t done = 0;
  uint64_t bytes = 0;
  LoggenProgressClock clock;
};

void show_progress(Progress *p, bool last) {
  if (!p->on) return;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (!loggen_progress_due(&p->clock, static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec,
                           last))
    return;
  fprintf(stderr, "%s\n", loggen_progress_line(p->done, p->total, p->bytes).c_str());
}

bool make_dirs(const std::string &path, std::string *error) {
  for (size_t at = 1; at <= path.size(); at++) {
    if (at < path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
      *error = "cannot create " + part + ": " + strerror(errno);
      return false;
    }
  }
  return true;
}

std::string day_dir(const LoggenOptions &o, int64_t day) {
  time_t t = utc_midnight(o.start_date) + day * 86400;
  struct tm tm;
  gmtime_r(&t, &tm);
  char name[16];
  strftime(name, sizeof(name), "%Y%m%d", &tm);
  return o.out + "/" + name + "/extracts";
}

// Writes one file's records: events [begin, end) of one file of the day.
bool write_file(const std::string &path, const LoggenEvent *begin, const LoggenEvent *end,
                const std::vector<LoggenService> &services, const LoggenOptions &o,
                LoggenSummary *s, Progress *progress, std::string *error) {
  OutBuf buf;
  // A named pipe or a device under the name is refused, not waited on.
  std::string why;
  buf.fd = vtlb_open_regular_file(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, &why, 0644);
  if (buf.fd < 0) return *error = "cannot create " + path + ": " + why, false;
  buf.data.resize(kOutBufSize);
  LoggenRng filler = {o.seed ^ (0x9e3779b97f4a7c15ULL * (s->files + 1))};
  uint64_t record_no = 0;
  for (const LoggenEvent *e = begin; e != end; e++) {
    uint64_t body =
        append_record(&buf, *e, services[e->service], ++record_no, s->window_start_s, &filler);
    if (e->bad) {
      s->bad[e->bad - 1]++;
    } else {
      s->good++;
      s->good_body_bytes += body;
    }
    if (++progress->done % 4096 == 0) {
      progress->bytes = s->bytes + buf.written + buf.used;
      show_progress(progress, false);
    }
  }
  bool ok = out_flush(&buf);
  int saved = errno;
  if (close(buf.fd) != 0 && ok) ok = false, saved = errno;
  if (!ok) return *error = "cannot write " + path + ": " + strerror(saved), false;
  s->files++;
  s->requests += end - begin;
  s->bytes += buf.written;
  return true;
}

// The REPLAY_PERIOD window ends with the latest time of a record that is not
// built to fall outside it.
void widen_window(const std::vector<LoggenEvent> &events, LoggenSummary *s) {
  for (const LoggenEvent &e : events) {
    if (e.bad == 102 - kFirstBadCode + 1 || e.bad == 105 - kFirstBadCode + 1) continue;
    s->window_end_s = std::max<int64_t>(s->window_end_s, e.time_us / 1000000);
  }
}

bool write_day(const LoggenOptions &o, int64_t day, const std::vector<LoggenEvent> &events,
               const std::vector<LoggenService> &services, LoggenSummary *s, Progress *progress,
               std::string *error) {
  std::string dir = day_dir(o, day);
  if (!make_dirs(dir, error)) return false;
  const LoggenEvent *at = events.data(), *end = events.data() + events.size();
  for (int64_t f = 0; f < o.files_per_day; f++) {
    const LoggenEvent *stop = at;
    while (stop != end && stop->file == f) stop++;
    std::string path = dir + "/SOAP.log." + std::to_string(f + 1);
    if (!write_file(path, at, stop, services, o, s, progress, error)) return false;
    at = stop;
  }
  return true;
}

std::string local_time_text(int64_t seconds) {
  time_t t = seconds;
  struct tm tm;
  localtime_r(&t, &tm);
  char text[32];
  strftime(text, sizeof(text), "%m/%d/%Y %H:%M:%S", &tm);
  return text;
}

}  // namespace

bool loggen_progress_due(LoggenProgressClock *c, int64_t now_ns, bool last) {
  if (!c->started) c->started = true, c->last_ns = now_ns;
  if (last ? !c->shown : now_ns - c->last_ns < 1000000000) return false;
  c->last_ns = now_ns;
  c->shown = true;
  return true;
}

std::string loggen_progress_line(uint64_t done, uint64_t total, uint64_t bytes) {
  char line[160];
  snprintf(line, sizeof line, "vt_loggen: %llu of %llu requests written (%llu%%), %llu MB",
           (unsigned long long)done, (unsigned long long)total,
           (unsigned long long)(done * 100 / total), (unsigned long long)(bytes >> 20));
  return line;
}

bool generate_logs(const LoggenOptions &o, LoggenSummary *s, std::string *error) {
  *s = {};
  s->window_start_s = utc_midnight(o.start_date);
  std::vector<LoggenService> services = make_services(o.services, o.url_per_service);
  LoggenPlanState st;
  init_plan_state(o, &st);
  Progress progress;
  progress.on = o.progress;
  progress.total = static_cast<uint64_t>(o.requests);
  std::vector<LoggenEvent> events;
  std::vector<std::pair<uint32_t, uint64_t>> good;  // (customer, ms) of good records
  // And of the code-102 records, which the tool accepts when no
  // REPLAY_PERIOD is configured, at the time they show.
  std::vector<std::pair<uint32_t, uint64_t>> outside;
  std::vector<bool> seen(o.customers);
  for (int64_t day = 0; day < o.days; day++) {
    plan_day(o, day, &st, &events);
    widen_window(events, s);
    if (!write_day(o, day, events, services, s, &progress, error)) return false;
    for (const LoggenEvent &e : events) {
      if (!seen[e.customer]) seen[e.customer] = true, s->customers++;
      if (!e.bad) good.emplace_back(e.customer, e.time_us / 1000);
      if (e.bad == 102 - kFirstBadCode + 1)
        outside.emplace_back(e.customer,
                             static_cast<uint64_t>(shown_seconds(e, s->window_start_s)) * 1000 +
                                 e.time_us % 1000000 / 1000);
    }
  }
  progress.bytes = s->bytes;
  show_progress(&progress, true);
  s->long_visits = st.long_visits;
  s->users = count_sessions(&good);
  good.insert(good.end(), outside.begin(), outside.end());
  s->users_without_period = count_sessions(&good);
  return true;
}

void print_loggen_summary(FILE *out, const LoggenOptions &o, const LoggenSummary &s) {
  uint64_t bad = 0;
  fprintf(out, "out=%s\n", o.out.c_str());
  fprintf(out, "files=%llu\n", (unsigned long long)s.files);
  fprintf(out, "requests=%llu\n", (unsigned long long)s.requests);
  fprintf(out, "good=%llu\n", (unsigned long long)s.good);
  for (int k = 0; k < kBadKinds; k++) {
    fprintf(out, "bad_%d=%llu\n", kFirstBadCode + k, (unsigned long long)s.bad[k]);
    bad += s.bad[k];
  }
  fprintf(out, "bad=%llu\n", (unsigned long long)bad);
  fprintf(out, "bytes=%llu\n", (unsigned long long)s.bytes);
  fprintf(out, "good_body_bytes=%llu\n", (unsigned long long)s.good_body_bytes);
  fprintf(out, "customers=%llu\n", (unsigned long long)s.customers);
  fprintf(out, "long_visits=%llu\n", (unsigned long long)s.long_visits);
  fprintf(out, "replay_period=REPLAY_PERIOD|%s|%s\n", local_time_text(s.window_start_s).c_str(),
          local_time_text(s.window_end_s).c_str());
  fprintf(out, "expected_accepted=%llu\n", (unsigned long long)s.good);
  fprintf(out, "expected_accepted_without_period=%llu\n", (unsigned long long)(s.good + s.bad[1]));
  fprintf(out, "expected_users=%llu\n", (unsigned long long)s.users);
  fprintf(out, "expected_users_without_period=%llu\n", (unsigned long long)s.users_without_period);
}

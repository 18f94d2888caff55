#include "tools/package/profile.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/decimal.h"
#include "base/package/index_reader.h"
#include "base/package/package_files.h"

namespace {

constexpr uint64_t kSmallBodyLimit = 65536;
constexpr int kMaxPages = 65536;
// "Content-Length: " before the value, "\r\n\r\n" after it, "\n" after the body.
constexpr uint64_t kLengthLineFixed = 16 + 4 + 1;

int digits_of(uint64_t n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    d++;
  }
  return d;
}

// Doubles the column width until column `col` fits, adding columns in pairs.
void widen_columns(ProfileBuilder *b, uint64_t time_ms) {
  while (time_ms / b->column_ms >= b->max_columns) {
    b->column_ms *= 2;
    for (std::vector<uint64_t> &cols : b->worker_columns) {
      for (size_t c = 0; c < cols.size() / 2; c++) cols[c] = cols[2 * c] + cols[2 * c + 1];
      std::fill(cols.begin() + static_cast<long>(cols.size() / 2), cols.end(), 0);
    }
  }
}

void count_in(BucketCounts *c, uint64_t k) {
  if (k >= kDenseBuckets) {
    c->sparse[k]++;
    return;
  }
  if (k >= c->dense.size())
    c->dense.resize(
        std::min<size_t>(kDenseBuckets, std::max<size_t>(k + 1, c->dense.size() * 3 / 2)));
  c->dense[k]++;
}

// Calls f(k, count) for the buckets in order (the empty ones of the table too).
template <typename F>
void for_each_count(const BucketCounts &c, F f) {
  for (size_t k = 0; k < c.dense.size(); k++) f(static_cast<uint64_t>(k), uint64_t{c.dense[k]});
  for (const auto &[k, count] : c.sparse) f(k, count);
}

uint64_t body_quantile(const ProfileBuilder &b, uint64_t rank) {
  uint64_t seen = 0;
  for (size_t size = 0; size < b.small_bodies.size(); size++) {
    seen += b.small_bodies[size];
    if (seen >= rank) return size;
  }
  for (const auto &[size, count] : b.large_bodies) {
    seen += count;
    if (seen >= rank) return size;
  }
  return 0;
}

// Users active at once: overall and the most in each column. At one time
// the users that start come in before those that end leave.
void sweep_active_users(ProfileBuilder *b, Profile *p, size_t columns) {
  TimeSource firsts = b->sorted_firsts, lasts = b->sorted_lasts;
  if (!b->user_times_elsewhere) {
    std::vector<uint64_t> &first = b->user_first, &last = b->user_last;
    std::sort(first.begin(), first.end());
    std::sort(last.begin(), last.end());
    auto from = [](const std::vector<uint64_t> &v) {
      return
          [&v, i = size_t{0}](uint64_t *t) mutable { return i < v.size() && (*t = v[i++], true); };
    };
    firsts = from(first);
    lasts = from(last);
  }
  p->column_active.assign(columns, 0);
  uint64_t active = 0, best = 0;
  size_t col = 0;  // the column of the last event; `active` holds since then
  auto carry_to = [&](size_t to) {
    for (size_t c = col + 1; c <= to && c < columns; c++)
      p->column_active[c] = std::max(p->column_active[c], active);
    col = std::max(col, to);
  };
  // Every user's last time is at or after its first: while firsts are left,
  // so are lasts.
  uint64_t f = 0, l = 0;
  bool more_firsts = firsts(&f), more_lasts = lasts(&l);
  while (more_firsts || more_lasts) {
    uint64_t t = more_firsts ? std::min(f, l) : l;
    size_t c = static_cast<size_t>(t / p->column_ms);
    carry_to(c);
    while (more_firsts && f == t) {
      active++;
      more_firsts = firsts(&f);
    }
    if (c < columns) p->column_active[c] = std::max(p->column_active[c], active);
    best = std::max(best, active);
    while (more_lasts && l == t) {
      active--;
      more_lasts = lasts(&l);
    }
  }
  p->max_active_users = best;
}

}  // namespace

void profile_begin(ProfileBuilder *b, int workers, uint64_t bucket_ms) {
  *b = ProfileBuilder{};
  b->workers = workers;
  b->bucket_ms = bucket_ms;
  // A chart of many workers gets fewer columns, so that its size stays small.
  b->max_columns = static_cast<size_t>(std::clamp(100000 / std::max(workers, 1), 128, 512));
  b->column_ms = bucket_ms;
  b->worker_columns.assign(static_cast<size_t>(workers), std::vector<uint64_t>(b->max_columns));
  b->per_worker.resize(static_cast<size_t>(workers));
  for (int w = 0; w < workers; w++) b->per_worker[static_cast<size_t>(w)].worker = w;
}

void profile_add_user(ProfileBuilder *b, int worker, uint64_t first_ms, uint64_t last_ms) {
  b->per_worker[static_cast<size_t>(worker)].users++;
  b->users++;
  if (b->user_times_elsewhere) return;
  b->user_first.push_back(first_ms);
  b->user_last.push_back(last_ms);
}

bool profile_add_request(ProfileBuilder *b, int worker, int page, uint64_t time_ms,
                         uint64_t entry_size, uint64_t body_size) {
  if (page < 0 || page >= kMaxPages) {
    b->error =
        "page id " + std::to_string(page) + " is outside 0.." + std::to_string(kMaxPages - 1);
    return false;
  }
  // Every other sum of bytes is at most this one.
  if (__builtin_add_overflow(b->bytes, entry_size, &b->bytes)) {
    b->error = "the requests' bytes add up beyond 2^64-1";
    return false;
  }
  count_in(&b->bucket_counts, time_ms / b->bucket_ms);
  count_in(&b->minute_counts, time_ms / 60000);
  widen_columns(b, time_ms);
  b->worker_columns[static_cast<size_t>(worker)][time_ms / b->column_ms]++;
  WorkerFigures &wf = b->per_worker[static_cast<size_t>(worker)];
  wf.requests++;
  wf.bytes += entry_size;
  if (static_cast<size_t>(page) >= b->per_page.size()) b->per_page.resize(page + 1);
  PageFigures &pf = b->per_page[static_cast<size_t>(page)];
  pf.page = page;
  pf.requests++;
  pf.bytes += entry_size;
  if (body_size < kSmallBodyLimit) {
    if (b->small_bodies.empty()) b->small_bodies.resize(kSmallBodyLimit);
    b->small_bodies[body_size]++;
  } else {
    b->large_bodies[body_size]++;
  }
  b->body_bytes += body_size;
  b->min_ms = std::min(b->min_ms, time_ms);
  b->max_ms = std::max(b->max_ms, time_ms);
  b->requests++;
  return true;
}

void profile_finish(ProfileBuilder *b, Profile *p) {
  std::map<int, uint64_t> rejected = std::move(p->rejected_by_code);
  *p = Profile{};
  p->rejected_by_code = std::move(rejected);
  p->workers = b->workers;
  p->bucket_ms = b->bucket_ms;
  p->per_worker = b->per_worker;
  p->users = b->users;
  for (const WorkerFigures &w : b->per_worker) {
    p->requests += w.requests;
    p->bytes += w.bytes;
  }
  for (const PageFigures &page : b->per_page)
    if (page.requests) p->per_page.push_back(page);
  p->column_ms = b->column_ms;
  if (b->requests == 0) {
    p->worker_columns.assign(static_cast<size_t>(b->workers), {});
    sweep_active_users(b, p, 0);
    return;
  }
  p->first_ms = b->min_ms;
  p->last_ms = b->max_ms;
  p->duration_ms = b->max_ms - b->min_ms;
  uint64_t buckets = b->max_ms / b->bucket_ms - b->min_ms / b->bucket_ms + 1;
  double bucket_s = static_cast<double>(b->bucket_ms) / 1000.0;
  p->rps_mean = static_cast<double>(b->requests) / (static_cast<double>(buckets) * bucket_s);
  for_each_count(b->bucket_counts, [&](uint64_t k, uint64_t count) {
    if (count > p->peak_bucket_requests) {
      p->peak_bucket_requests = count;
      p->peak_bucket_start_ms = k * b->bucket_ms;
    }
  });
  p->rps_peak = static_cast<double>(p->peak_bucket_requests) / bucket_s;
  uint64_t minutes = b->max_ms / 60000 - b->min_ms / 60000 + 1;
  p->rpm_mean = static_cast<double>(b->requests) / static_cast<double>(minutes);
  for_each_count(b->minute_counts,
                 [&](uint64_t, uint64_t count) { p->rpm_peak = std::max(p->rpm_peak, count); });

  size_t columns = static_cast<size_t>(b->max_ms / b->column_ms) + 1;
  p->worker_columns = b->worker_columns;
  for (std::vector<uint64_t> &cols : p->worker_columns) cols.resize(columns);
  p->column_peak.assign(columns, 0);
  for_each_count(b->bucket_counts, [&](uint64_t k, uint64_t count) {
    size_t c = static_cast<size_t>(k * b->bucket_ms / b->column_ms);
    if (c < columns) p->column_peak[c] = std::max(p->column_peak[c], count);
  });
  sweep_active_users(b, p, columns);

  // Nearest rank: the value at rank ceil(q * n), counting from 1.
  p->body_bytes = b->body_bytes;
  p->body_median = body_quantile(*b, (b->requests + 1) / 2);
  p->body_p95 = body_quantile(*b, (b->requests * 95 + 99) / 100);
  p->body_max = body_quantile(*b, b->requests);
}

bool body_size_of_entry(uint64_t entry_size, uint64_t fixed_head, uint64_t *body) {
  if (entry_size <= fixed_head) return false;
  uint64_t rest = entry_size - fixed_head;  // digits(n) + n
  for (int d = 1; d <= 20 && static_cast<uint64_t>(d) <= rest; d++) {
    if (digits_of(rest - static_cast<uint64_t>(d)) == d) {
      *body = rest - static_cast<uint64_t>(d);
      return true;
    }
  }
  return false;
}

namespace {

struct WorkerReader {
  const Package *package;
  int worker = 0;
  int req_fd = -1;
  uint64_t req_size = 0;
  std::vector<int64_t> *page_head;  // bytes before "Content-Length: ", per page; -1 unknown
  IndexReader index;
};

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

// Learns the head of page from one of its entries: the bytes before its
// "Content-Length: " line, which every entry of the page shares.
bool learn_page_head(WorkerReader *r, int page, const IndexGroup &g, std::string *error) {
  std::string head, where = index_reader_where(r->index);
  size_t end = std::string::npos;
  for (uint64_t read = 0; end == std::string::npos && read < g.size;) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(65536, g.size - read));
    std::string more(chunk, '\0');
    ssize_t got = pread(r->req_fd, more.data(), chunk, static_cast<off_t>(g.offset + read));
    if (got != static_cast<ssize_t>(chunk))
      return fail(error, where + ": cannot read its entry: " + strerror(got < 0 ? errno : EIO));
    head += more;
    read += chunk;
    end = head.find("\r\n\r\n");
  }
  if (end == std::string::npos) return fail(error, where + ": entry has no empty line");
  size_t line = head.rfind("\r\n", end - 1);
  line = line == std::string::npos ? 0 : line + 2;
  if (head.compare(line, 16, "Content-Length: ") != 0)
    return fail(error, where + ": entry head does not end with its Content-Length line");
  if (static_cast<size_t>(page) >= r->page_head->size()) r->page_head->resize(page + 1, -1);
  (*r->page_head)[static_cast<size_t>(page)] = static_cast<int64_t>(line);
  return true;
}

// One request group of the worker.
bool read_group(ProfileBuilder *b, WorkerReader *r, const IndexGroup &g, std::string *error) {
  std::string where = index_reader_where(r->index);
  if (g.page_id < 0 || g.page_id >= kMaxPages)
    return fail(error, where + ": page id " + std::to_string(g.page_id) + " out of range");
  if (g.size > r->req_size || g.offset > r->req_size - g.size)
    return fail(error, where + ": entry outside " + request_file_name(r->worker));
  int pg = static_cast<int>(g.page_id);
  if (static_cast<size_t>(pg) >= r->page_head->size() || (*r->page_head)[pg] < 0) {
    if (!learn_page_head(r, pg, g, error)) return false;
  }
  uint64_t body;
  if (!body_size_of_entry(g.size, static_cast<uint64_t>((*r->page_head)[pg]) + kLengthLineFixed,
                          &body))
    return fail(error, where + ": an entry of " + std::to_string(g.size) +
                           " bytes does not fit the head of page " + std::to_string(pg));
  if (!profile_add_request(b, r->worker, pg, g.time_ms, g.size, body))
    return fail(error, where + ": " + b->error);
  return true;
}

bool read_worker(ProfileBuilder *b, WorkerReader *r, WorkerCounts *n, std::string *error) {
  const PackageDir &dir = r->package->dir;
  std::string index_name = index_file_name(r->worker), req_name = request_file_name(r->worker);
  struct stat index_st, req_st;
  std::string why;
  int index_fd = open_package_file(dir, index_name, &index_st, &why);
  if (index_fd < 0) return fail(error, dir.path + "/" + index_name + ": " + why);
  r->req_fd = open_package_file(dir, req_name, &req_st, &why);
  if (r->req_fd < 0) {
    close(index_fd);
    return fail(error, dir.path + "/" + req_name + ": " + why);
  }
  r->req_size = static_cast<uint64_t>(req_st.st_size);
  n->request_file_size = r->req_size;
  n->index_file_size = static_cast<uint64_t>(index_st.st_size);
  start_index_reader(&r->index, index_fd, r->worker);
  std::string fault;
  bool ok = read_index_header(&r->index, &fault);
  uint64_t user;
  while (ok && next_index_user(&r->index, &user, &fault)) {
    uint64_t first = UINT64_MAX, last = 0;
    IndexGroup g;
    while (ok && next_index_group(&r->index, &g, &fault)) {
      ok = read_group(b, r, g, error);
      first = std::min(first, g.time_ms);
      last = std::max(last, g.time_ms);
      n->requests++;
    }
    ok = ok && fault.empty();
    if (ok) profile_add_user(b, r->worker, first, last);
    n->users++;
    n->last_time_ms = std::max(n->last_time_ms, last);
  }
  if (!fault.empty())
    ok = fail(error, dir.path + "/" + index_reader_where(r->index) + ": " + fault);
  close(index_fd);
  close(r->req_fd);
  r->req_fd = -1;
  return ok;
}

// Counts the lines of the error logs by their code; a log that breaks a
// rule is left out, and named.
void read_rejected_by_code(const PackageDir &dir, Profile *p) {
  std::vector<std::string> names;
  std::string why;
  if (!package_dir_names(dir, &names, &why))
    p->problems.push_back(dir.path + ": " + why + "; the error logs are not counted");
  for (const std::string &name : names) {
    if (!is_error_log_name(name.c_str())) continue;
    struct stat st;
    int fd = open_package_file(dir, name, &st, &why);
    FILE *fp = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (!fp) {
      if (fd >= 0) close(fd);
      p->problems.push_back(dir.path + "/" + name + ": " + why + "; its records are not counted");
      continue;
    }
    char *line = nullptr;
    size_t cap = 0;
    while (getline(&line, &cap, fp) >= 0) {
      if (line[0] == '#') continue;
      const char *bar = strchr(line, '|');
      if (!bar) continue;
      // A code is a number of a few digits; other text is not counted.
      uint64_t code;
      bool too_big;
      size_t digits = vtlb_read_u64(bar + 1, strlen(bar + 1), &code, &too_big);
      if (digits && !too_big && code <= INT_MAX && bar[1 + digits] == '|')
        p->rejected_by_code[static_cast<int>(code)]++;
    }
    free(line);
    fclose(fp);
  }
}

// The service names and the capture's clock, from a manifest that agrees
// with the files.
void use_manifest(const Package &package, const std::vector<std::string> &differ, Profile *p) {
  if (package.manifest_state != ManifestState::kRead) return;
  if (!differ.empty()) {
    for (const std::string &d : differ)
      p->problems.push_back(package.dir.path + "/" + d +
                            "; service names and clock times left out");
    return;
  }
  p->has_clock_and_names = true;
  p->capture_start_ms = package.manifest.capture_start_ms;
  for (const ManifestService &s : package.manifest.services) {
    size_t page = static_cast<size_t>(s.page_id);
    if (page >= p->page_names.size()) p->page_names.resize(page + 1);
    p->page_names[page] = s.name;
  }
}

}  // namespace

bool read_package_profile(const std::string &dir, uint64_t bucket_ms, bool trust_foreign,
                          Profile *p, std::string *error) {
  Package package;
  std::vector<std::string> found;
  if (!open_package(dir, trust_foreign, &package, &found, error)) return false;
  ProfileBuilder b;
  profile_begin(&b, package.workers, bucket_ms);
  std::vector<int64_t> page_head;
  std::vector<std::string> differ;
  for (int w = 0; w < package.workers; w++) {
    WorkerReader r;
    r.package = &package;
    r.worker = w;
    r.page_head = &page_head;
    WorkerCounts n;
    if (!read_worker(&b, &r, &n, error)) {
      close_package(&package);
      return false;
    }
    std::vector<std::string> d = package_disagreements(package, w, n);
    differ.insert(differ.end(), d.begin(), d.end());
  }
  p->rejected_by_code.clear();
  profile_finish(&b, p);
  for (const std::string &f : found)
    p->problems.push_back(dir + "/" + f +
                          (f.rfind(kManifestName, 0) == 0
                               ? "; service names and clock times left out"
                               : "; left out"));
  use_manifest(package, differ, p);
  read_rejected_by_code(package.dir, p);
  close_package(&package);
  return true;
}

std::string page_name(const Profile &p, int page) {
  if (page < 0 || static_cast<size_t>(page) >= p.page_names.size()) return "";
  return p.page_names[static_cast<size_t>(page)];
}

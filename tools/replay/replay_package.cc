#include "tools/replay/replay_package.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/package/index_reader.h"

namespace {

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

// Reads the user lines of worker wk and records its users.
bool scan_lines(ReplayPackage *p, uint32_t wk_pos, IndexReader *r, std::string *error) {
  ReplayWorker *wk = &p->workers[wk_pos];
  std::string fault;
  auto at = [&] { return p->dir + "/" + index_reader_where(*r); };
  if (!read_index_header(r, &fault)) return fail(error, at() + ": " + fault);
  ReplayUser u;
  while (next_index_user(r, &u.user_id, &fault)) {
    u.worker = wk_pos;
    u.remaining = 0;
    u.first_ms = u.last_ms = 0;
    u.index_pos = r->buf_offset + r->pos;
    uint64_t last_time = 0;
    ReplayGroup g;
    while (next_index_group(r, &g, &fault)) {
      // The group is read again when it is sent: as long as it is here.
      wk->longest_group = std::max(wk->longest_group, r->group_bytes);
      if (g.time_ms < last_time) return fail(error, at() + ": time goes back");
      if (g.size < 2 || g.offset > wk->req_size || g.size > wk->req_size - g.offset)
        return fail(error, at() + ": entry outside " + request_file_name(wk->number));
      if (u.remaining == UINT32_MAX) return fail(error, at() + ": too many requests of one user");
      if (p->requests == 0 || g.time_ms < p->first_time_ms) p->first_time_ms = g.time_ms;
      if (p->requests == 0 || g.time_ms > p->last_time_ms) p->last_time_ms = g.time_ms;
      last_time = g.time_ms;
      if (u.remaining == 0) u.first_ms = g.time_ms;
      u.last_ms = g.time_ms;
      u.remaining++;
      p->requests++;
    }
    if (!fault.empty()) return fail(error, at() + ": " + fault);
    wk->users++;
    wk->requests += u.remaining;
    p->users.push_back(u);
  }
  return fault.empty() || fail(error, at() + ": " + fault);
}

bool scan_worker(ReplayPackage *p, uint32_t wk_pos, std::string *error) {
  ReplayWorker *wk = &p->workers[wk_pos];
  std::string index_name = index_file_name(wk->number), req_name = request_file_name(wk->number);
  struct stat index_st, req_st;
  std::string why;
  wk->index_fd = open_package_file(p->files.dir, index_name, &index_st, &why);
  if (wk->index_fd < 0) return fail(error, p->dir + "/" + index_name + ": " + why);
  wk->req_fd = open_package_file(p->files.dir, req_name, &req_st, &why);
  if (wk->req_fd < 0) return fail(error, p->dir + "/" + req_name + ": " + why);
  wk->req_size = static_cast<uint64_t>(req_st.st_size);
  IndexReader r;
  start_index_reader(&r, wk->index_fd, wk->number);
  if (!scan_lines(p, wk_pos, &r, error)) return false;
  WorkerCounts n;
  n.users = wk->users;
  n.requests = wk->requests;
  n.request_file_size = wk->req_size;
  n.index_file_size = static_cast<uint64_t>(index_st.st_size);
  n.last_time_ms = p->last_time_ms;
  std::vector<std::string> differ = package_disagreements(p->files, wk->number, n);
  return differ.empty() || fail(error, p->dir + "/" + differ[0]);
}

}  // namespace

bool open_replay_package(const std::string &dir, const std::vector<int> &selected, ReplayPackage *p,
                         std::string *error, ReplayShard shard, bool trust_foreign) {
  close_replay_package(p);
  *p = ReplayPackage{};
  p->dir = dir;
  std::vector<std::string> problems;
  if (!open_package(dir, trust_foreign, &p->files, &problems, error)) return false;
  if (!problems.empty()) return fail(error, dir + "/" + problems[0]);
  p->workers_in_package = p->files.workers;
  for (int w : selected) {
    if (w >= p->workers_in_package)
      return fail(error, "--workers names worker " + std::to_string(w) +
                             ", but the package has workers 0 to " +
                             std::to_string(p->workers_in_package - 1));
  }
  int position = 0;  // among the selected workers
  for (int w = 0; w < p->workers_in_package; w++) {
    bool wanted = selected.empty();
    for (int s : selected) wanted = wanted || s == w;
    if (!wanted) continue;
    if (position++ % shard.count != shard.index) continue;
    ReplayWorker wk;
    wk.number = w;
    p->workers.push_back(wk);
    if (!scan_worker(p, static_cast<uint32_t>(p->workers.size() - 1), error)) return false;
  }
  if (p->workers.empty())
    return fail(error, "--shard " + std::to_string(shard.index) + "/" +
                           std::to_string(shard.count) + ": no worker falls to this shard (" +
                           std::to_string(position) + " selected of " + dir + ")");
  if (p->requests == 0) return fail(error, "the selected workers of " + dir + " hold no request");
  p->base_ms = p->first_time_ms;
  return true;
}

void close_replay_package(ReplayPackage *p) {
  for (ReplayWorker &w : p->workers) {
    if (w.index_fd >= 0) close(w.index_fd);
    if (w.req_fd >= 0) close(w.req_fd);
    w.index_fd = w.req_fd = -1;
  }
  close_package(&p->files);
}

bool replay_schedule_fits(const ReplayPackage &p, double speed, std::string *error) {
  // 2^62 ns, some 146 years, leaves room for the start on the monotonic clock.
  double span_ms = static_cast<double>(p.last_time_ms - p.base_ms);
  if (span_ms * 1e6 / speed < 4611686018427387904.0) return true;
  char text[160];
  snprintf(text, sizeof text,
           "the send times of %s span %.0f ms: at --speed %g the schedule would outlast 146 years",
           p.dir.c_str(), span_ms, speed);
  return fail(error, text);
}

bool next_replay_group(const ReplayPackage &p, ReplayUser *u, ReplayGroup *g, std::string *error) {
  const ReplayWorker &wk = p.workers[u->worker];
  // A group is read as far as the longest one of its file goes, and one
  // byte more, where it must end: the group met when the file was checked.
  char small[160];
  std::string large, fault;
  size_t want = wk.longest_group + 1;
  char *buf = small;
  if (want > sizeof small) {
    large.resize(want);
    buf = large.data();
  } else {
    want = sizeof small;
  }
  ssize_t got = pread(wk.index_fd, buf, want, static_cast<off_t>(u->index_pos));
  size_t used = got > 0 ? parse_index_group(buf, static_cast<size_t>(got), g, &fault) : 0;
  if (used > wk.longest_group) used = 0;  // longer than any group the file held
  if (u->remaining == 0 || used == 0 || g->offset > wk.req_size ||
      g->size > wk.req_size - g->offset) {
    *error = p.dir + "/" + index_file_name(wk.number) + " changed while it was replayed";
    return false;
  }
  u->index_pos += used;
  u->remaining--;
  return true;
}

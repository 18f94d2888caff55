#include "tools/replay/replay_package.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/decimal.h"
#include "base/core/input_file.h"

namespace {

const char kIndexHeader[] =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";

// Reads an unsigned decimal that fits 64 bits; returns the digits read, 0
// when there are none or (with *too_big set) when it does not fit.
size_t read_u64(const char *s, size_t len, uint64_t *v, bool *too_big) {
  bool big;
  size_t n = vtlb_read_u64(s, len, v, &big);
  if (big) *too_big = true;
  return big ? 0 : n;
}

std::string where(const std::string &dir, int w, uint64_t line) {
  char buf[64];
  snprintf(buf, sizeof buf, "/vt_index_%d line %lu", w, static_cast<unsigned long>(line));
  return dir + buf;
}

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

// Checks one user line (without its newline) of worker wk and records the user.
bool scan_user_line(const char *line, size_t len, uint64_t line_pos, uint32_t wk_pos,
                    ReplayWorker *wk, ReplayPackage *p, const std::string &at, std::string *error) {
  ReplayUser u;
  u.worker = wk_pos;
  bool too_big = false;
  size_t n = read_u64(line, len, &u.user_id, &too_big);
  if (too_big) return fail(error, at + ": the user id is too large (above 18446744073709551615)");
  if (n == 0 || n >= len || line[n] != ',') return fail(error, at + ": no user id");
  std::string req_name = ",vt_req_" + std::to_string(wk->number);
  if (len - n < req_name.size() || memcmp(line + n, req_name.data(), req_name.size()) != 0 ||
      (n + req_name.size() < len && line[n + req_name.size()] != ','))
    return fail(error, at + ": the user is not on vt_req_" + std::to_string(wk->number));
  size_t at_pos = n + req_name.size();
  u.index_pos = line_pos + at_pos;
  uint64_t last_time = 0;
  while (at_pos < len) {
    ReplayGroup g;
    bool too_big = false;
    size_t used = parse_replay_group(line + at_pos, len - at_pos, &g, &too_big);
    std::string group_at = at + " group " + std::to_string(u.remaining + 1);
    if (used == 0 && too_big)
      return fail(error, group_at + ": a number is too large (above 18446744073709551615)");
    if (used == 0) return fail(error, group_at + ": unreadable");
    // The group is read again when it is sent: as long as it is here.
    wk->longest_group = std::max(wk->longest_group, used);
    if (g.time_ms < last_time) return fail(error, group_at + ": time goes back");
    if (g.size < 2 || g.offset > wk->req_size || g.size > wk->req_size - g.offset)
      return fail(error, group_at + ": entry outside vt_req_" + std::to_string(wk->number));
    if (u.remaining == UINT32_MAX) return fail(error, at + ": too many requests");
    if (p->requests == 0 || g.time_ms < p->first_time_ms) p->first_time_ms = g.time_ms;
    if (p->requests == 0 || g.time_ms > p->last_time_ms) p->last_time_ms = g.time_ms;
    last_time = g.time_ms;
    u.remaining++;
    p->requests++;
    at_pos += used;
  }
  if (u.remaining == 0) return fail(error, at + ": a user without requests");
  wk->users++;
  wk->requests += u.remaining;
  p->users.push_back(u);
  return true;
}

bool scan_worker(ReplayPackage *p, uint32_t wk_pos, std::string *error) {
  ReplayWorker *wk = &p->workers[wk_pos];
  std::string base = p->dir + "/";
  std::string index_name = base + "vt_index_" + std::to_string(wk->number);
  std::string req_name = base + "vt_req_" + std::to_string(wk->number);
  // Only regular files: a named pipe would be waited on for ever.
  std::string why;
  wk->index_fd = vtlb_open_regular_file(index_name.c_str(), O_RDONLY, &why);
  if (wk->index_fd < 0) return fail(error, "cannot open " + index_name + ": " + why);
  wk->req_fd = vtlb_open_regular_file(req_name.c_str(), O_RDONLY, &why);
  if (wk->req_fd < 0) return fail(error, "cannot open " + req_name + ": " + why);
  struct stat st;
  if (fstat(wk->req_fd, &st) != 0)
    return fail(error, "cannot read " + req_name + ": " + strerror(errno));
  wk->req_size = static_cast<uint64_t>(st.st_size);
  int fd = dup(wk->index_fd);
  FILE *in = fd < 0 ? nullptr : fdopen(fd, "r");
  if (!in) {
    if (fd >= 0) close(fd);
    return fail(error, "cannot read " + index_name + ": " + strerror(errno));
  }
  char *line = nullptr;
  size_t cap = 0;
  uint64_t pos = 0, number = 0;
  bool ok = true;
  ssize_t got;
  errno = 0;
  while (ok && (got = getline(&line, &cap, in)) > 0) {
    number++;
    size_t len = static_cast<size_t>(got);
    std::string at = where(p->dir, wk->number, number);
    if (line[len - 1] != '\n') {
      ok = fail(error, at + ": the file ends in the middle of a line");
    } else if (number == 1) {
      if (len != sizeof kIndexHeader - 1 || memcmp(line, kIndexHeader, len) != 0)
        ok = fail(error, at + ": not the header line of an index file");
    } else {
      ok = scan_user_line(line, len - 1, pos, wk_pos, wk, p, at, error);
    }
    pos += len;
  }
  if (ok && ferror(in)) ok = fail(error, "cannot read " + index_name + ": " + strerror(errno));
  if (ok && number == 0) ok = fail(error, index_name + " is empty");
  free(line);
  fclose(in);
  return ok;
}

}  // namespace

size_t parse_replay_group(const char *s, size_t len, ReplayGroup *g, bool *too_big) {
  bool big = false;
  if (!too_big) too_big = &big;
  auto number = [too_big](const char *at, size_t left, uint64_t *v) {
    return read_u64(at, left, v, too_big);
  };
  size_t i = 0, n;
  auto comma = [&]() {
    if (i >= len || s[i] != ',') return false;
    i++;
    return true;
  };
  if (!comma() || (n = number(s + i, len - i, &g->time_ms)) == 0) return 0;
  i += n;
  if (!comma()) return 0;
  bool negative = i < len && s[i] == '-';
  if (negative) i++;
  uint64_t page;
  if ((n = number(s + i, len - i, &page)) == 0 || page > INT32_MAX) return 0;
  i += n;
  g->page_id = negative ? -static_cast<int64_t>(page) : static_cast<int64_t>(page);
  if (!comma() || (n = number(s + i, len - i, &g->offset)) == 0) return 0;
  i += n;
  if (!comma() || (n = number(s + i, len - i, &g->size)) == 0) return 0;
  i += n;
  if (i < len && s[i] == '|') {  // "|<type>:<offset>:<size>", the creation timestamp
    uint64_t ignored;
    i++;
    if (i + 1 >= len || s[i + 1] != ':') return 0;
    i += 2;
    if ((n = number(s + i, len - i, &ignored)) == 0) return 0;
    i += n;
    if (i >= len || s[i] != ':') return 0;
    i++;
    if ((n = number(s + i, len - i, &ignored)) == 0) return 0;
    i += n;
  }
  if (i < len && s[i] != ',' && s[i] != '\n') return 0;
  return i;
}

bool open_replay_package(const std::string &dir, const std::vector<int> &selected, ReplayPackage *p,
                         std::string *error, ReplayShard shard) {
  *p = ReplayPackage{};
  p->dir = dir;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0)
    return fail(error, "cannot open " + dir + ": " + strerror(errno));
  if (!S_ISDIR(st.st_mode)) return fail(error, dir + " is not a directory");
  while (p->workers_in_package < 256 &&
         stat((dir + "/vt_index_" + std::to_string(p->workers_in_package)).c_str(), &st) == 0)
    p->workers_in_package++;
  if (p->workers_in_package == 0)
    return fail(error, dir + " holds no vt_index_0: not a replay package");
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
}

bool next_replay_group(const ReplayPackage &p, ReplayUser *u, ReplayGroup *g, std::string *error) {
  const ReplayWorker &wk = p.workers[u->worker];
  // A group is read as far as the longest one of its file goes, and one
  // byte more, where it must end: the group met when the file was checked.
  char small[160];
  std::string large;
  size_t want = wk.longest_group + 1;
  char *buf = small;
  if (want > sizeof small) {
    large.resize(want);
    buf = large.data();
  } else {
    want = sizeof small;
  }
  ssize_t got = pread(wk.index_fd, buf, want, static_cast<off_t>(u->index_pos));
  size_t used = got > 0 ? parse_replay_group(buf, static_cast<size_t>(got), g) : 0;
  if (used > wk.longest_group) used = 0;  // longer than any group the file held
  if (u->remaining == 0 || used == 0 || g->offset > wk.req_size ||
      g->size > wk.req_size - g->offset) {
    *error = p.dir + "/vt_index_" + std::to_string(wk.number) + " changed while it was replayed";
    return false;
  }
  u->index_pos += used;
  u->remaining--;
  return true;
}

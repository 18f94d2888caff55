#include "tools/package/package_check.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "base/core/decimal.h"
#include "base/package/index_reader.h"
#include "base/package/package_files.h"

namespace {

struct Span {
  uint64_t offset, size;
};

struct Checker {
  const Package &p;
  std::set<std::string> refused;  // named already by the look at the directory
  PackageSummary *summary;
  std::vector<std::string> *problems;
};

// Reads size bytes at offset, or fewer at the end of the file.
std::string read_at(int fd, uint64_t offset, uint64_t size) {
  std::string buf(size, '\0');
  ssize_t got = pread(fd, buf.data(), size, static_cast<off_t>(offset));
  buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return buf;
}

// Checks that [offset, offset + size) of the request file is one entry.
std::string check_entry(int fd, const IndexGroup &g) {
  std::string headpart;
  size_t end = std::string::npos;
  for (uint64_t read = 0; end == std::string::npos && read < g.size;) {
    uint64_t chunk = std::min<uint64_t>(65536, g.size - read);
    std::string more = read_at(fd, g.offset + read, chunk);
    if (more.size() != chunk) return "entry runs past the end of the request file";
    headpart += more;
    read += chunk;
    end = headpart.find("\r\n\r\n");
  }
  if (end == std::string::npos || end + 5 > g.size) return "entry has no empty line after its head";
  if (read_at(fd, g.offset + g.size - 1, 1) != "\n") return "entry does not end with a newline";
  std::string head = headpart.substr(0, end + 2);
  std::string request_line = head.substr(0, head.find("\r\n"));
  size_t sp1 = request_line.find(' '), sp2 = request_line.rfind(' ');
  // One space only cannot be followed both by "/" and by "HTTP/".
  if (sp1 == std::string::npos || request_line.compare(sp1, 2, " /") != 0 ||
      request_line.compare(sp2, 6, " HTTP/") != 0)
    return "bad request line: " + request_line;
  const std::string key = "\r\nContent-Length: ";
  size_t cl = head.find(key);
  if (cl == std::string::npos) return "no Content-Length line";
  std::string value =
      head.substr(cl + key.size(), head.find("\r\n", cl + key.size()) - cl - key.size());
  uint64_t length;
  bool big;
  if (value.empty() || vtlb_read_u64(value.data(), value.size(), &length, &big) != value.size())
    return "bad Content-Length";
  if (big) return "Content-Length " + value + " is too large (above 18446744073709551615)";
  uint64_t body = g.size - (end + 4) - 1;
  if (body != length)
    return "Content-Length " + std::to_string(length) + " but body of " + std::to_string(body);
  if (g.ts_type &&
      (g.ts_offset < end + 4 || g.ts_offset > g.size - 1 || g.ts_size > g.size - 1 - g.ts_offset))
    return "creation timestamp outside the body";
  return "";
}

// Opens a file of the package; a refusal the look at the directory named
// already is not named again.
int open_checked(Checker &c, const std::string &name, struct stat *st, const char *missing) {
  std::string why;
  int fd = open_package_file(c.p.dir, name, st, &why);
  if (fd < 0 && !c.refused.count(name))
    c.problems->push_back(name + ": " + (errno == ENOENT ? missing : why));
  return fd;
}

// The user lines of a worker against its request file; the counts to *n.
void check_lines(Checker &c, IndexReader *r, int req_fd, uint64_t req_size, WorkerCounts *n) {
  std::string fault;
  auto problem = [&] { c.problems->push_back(index_reader_where(*r) + ": " + fault); };
  if (!read_index_header(r, &fault)) {
    problem();
    skip_index_line(r);
  }
  std::vector<Span> spans;
  uint64_t user;
  while (next_index_user(r, &user, &fault) || !fault.empty()) {
    if (!fault.empty()) {
      problem();
      skip_index_line(r);
      continue;
    }
    n->users++;
    uint64_t last_time = 0;
    IndexGroup g;
    while (next_index_group(r, &g, &fault)) {
      if (g.time_ms < last_time) c.problems->push_back(index_reader_where(*r) + ": time goes back");
      last_time = g.time_ms;
      n->last_time_ms = std::max(n->last_time_ms, g.time_ms);
      if (g.size == 0 || g.size > req_size || g.offset > req_size - g.size) {
        c.problems->push_back(index_reader_where(*r) + ": entry outside " + request_file_name(r->worker));
        continue;
      }
      std::string bad = check_entry(req_fd, g);
      if (!bad.empty()) c.problems->push_back(index_reader_where(*r) + ": " + bad);
      spans.push_back({g.offset, g.size});
      n->requests++;
    }
    if (!fault.empty()) {
      problem();
      skip_index_line(r);
    }
  }
  std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.offset < b.offset; });
  uint64_t covered = 0;
  for (const Span &s : spans) {
    if (s.offset != covered) break;
    covered += s.size;
  }
  if (covered != req_size)
    c.problems->push_back(request_file_name(r->worker) +
                          ": entries do not tile the file from offset " + std::to_string(covered));
}

// A listed file's digest against the manifest's.
void check_digest(Checker &c, int fd, const std::string &name, const ManifestFile &listed) {
  std::string hex, why;
  if (!package_file_digest(fd, &hex, &why))
    c.problems->push_back(name + ": cannot read: " + why);
  else if (hex != listed.digest)
    c.problems->push_back(name + ": digest differs from the manifest's (the file changed)");
}

void check_worker(Checker &c, int w) {
  std::string index_name = index_file_name(w), req_name = request_file_name(w);
  struct stat index_st, req_st;
  int index_fd = open_checked(c, index_name, &index_st, "missing, the manifest lists it");
  if (index_fd < 0) return;
  int req_fd = open_checked(c, req_name, &req_st, ("missing, " + index_name + " needs it").c_str());
  if (req_fd < 0) return (void)close(index_fd);
  IndexReader r;
  start_index_reader(&r, index_fd, w);
  WorkerCounts n;
  n.request_file_size = static_cast<uint64_t>(req_st.st_size);
  n.index_file_size = static_cast<uint64_t>(index_st.st_size);
  check_lines(c, &r, req_fd, n.request_file_size, &n);
  c.summary->users += n.users;
  c.summary->requests += n.requests;
  size_t before = c.problems->size();
  std::vector<std::string> differ = package_disagreements(c.p, w, n);
  c.problems->insert(c.problems->end(), differ.begin(), differ.end());
  if (c.p.manifest_state == ManifestState::kRead) {
    const ManifestWorker &m = c.p.manifest.files[static_cast<size_t>(w)];
    if (n.request_file_size == m.request_file.size)
      check_digest(c, req_fd, req_name, m.request_file);
    if (n.index_file_size == m.index_file.size) check_digest(c, index_fd, index_name, m.index_file);
  }
  c.summary->manifest_problems += c.problems->size() - before;
  close(index_fd);
  close(req_fd);
}

// Every file of the directory against the trust rules, and whether others
// may write it: in a directory every engine user may write to, such a file
// may have been put there or changed by someone else than the run.
void check_files(Checker &c) {
  std::vector<std::string> names;
  std::string why;
  if (!package_dir_names(c.p.dir, &names, &why)) c.problems->push_back(c.p.dir.path + ": " + why);
  for (const std::string &name : names) {
    struct stat st;
    if (fstatat(c.p.dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    std::string rule = package_file_rule(c.p.dir, st);
    if (!rule.empty()) {
      c.problems->push_back(name + ": " + rule);
      c.refused.insert(name);
    }
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWOTH)) {
      char mode[8];
      snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      c.problems->push_back(name + ": others may write it (mode " + mode + ")");
    }
  }
}

}  // namespace

std::vector<std::string> check_replay_package(const std::string &dir, PackageSummary *summary,
                                              bool trust_foreign) {
  *summary = PackageSummary{};
  std::vector<std::string> problems;
  Package p;
  std::string error;
  if (!open_package(dir, trust_foreign, &p, &problems, &error)) {
    problems.push_back(error);
    return problems;
  }
  summary->manifest = p.manifest_state;
  summary->manifest_problems = problems.size();
  summary->workers = p.workers;
  Checker c{p, {}, summary, &problems};
  check_files(c);
  for (int w = 0; w < p.workers; w++) check_worker(c, w);
  close_package(&p);
  return problems;
}

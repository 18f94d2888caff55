#include "tools/package/package_check.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "base/core/decimal.h"
#include "base/core/input_file.h"

namespace {

constexpr const char *kHeader =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...";

struct Group {
  uint64_t time, offset, size;
  int64_t page;
  bool has_ts = false;
  uint64_t ts_offset = 0, ts_size = 0;
};

bool all_digits(const std::string &s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The fault of a field that should be a number, "" when it is one.
std::string too_big(const std::string &s) {
  std::string shown = s.size() > 40 ? s.substr(0, 40) + "..." : s;
  return "number " + shown + " is too large (above 18446744073709551615)";
}

// A whole field of digits (leading zeros allowed) that fits 64 bits. False
// when it is no number; *fault names a number too large.
bool to_u64(const std::string &s, uint64_t *v, std::string *fault) {
  bool big;
  if (s.empty() || vtlb_read_u64(s.data(), s.size(), v, &big) != s.size()) return false;
  if (big) *fault = too_big(s);
  return !big;
}

std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

// "<page>" is a decimal that may carry a minus sign. Returns "" for a sound
// group, else its fault: "unreadable" or a number that is too large.
std::string parse_group(const std::vector<std::string> &f, size_t at, Group *g) {
  std::string fault;
  std::string size_text = f[at + 3];
  size_t bar = size_text.find('|');
  if (bar != std::string::npos) {
    // "|<type char>:<offset>:<size>"
    std::string suffix = size_text.substr(bar + 1);
    size_text = size_text.substr(0, bar);
    std::vector<std::string> p = split(suffix, ':');
    if (p.size() != 3 || p[0].size() != 1 || !to_u64(p[1], &g->ts_offset, &fault) ||
        !to_u64(p[2], &g->ts_size, &fault))
      return fault.empty() ? "unreadable" : fault;
    g->has_ts = true;
  }
  std::string page = f[at + 1];
  bool negative = !page.empty() && page[0] == '-';
  uint64_t magnitude;
  if (!to_u64(negative ? page.substr(1) : page, &magnitude, &fault))
    return fault.empty() ? "unreadable" : fault;
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return "page id " + page + " is too large";
  g->page = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (!to_u64(f[at], &g->time, &fault) || !to_u64(f[at + 2], &g->offset, &fault) ||
      !to_u64(size_text, &g->size, &fault))
    return fault.empty() ? "unreadable" : fault;
  return "";
}

// Reads size bytes at offset, or fewer at the end of the file.
std::string read_at(int fd, uint64_t offset, uint64_t size) {
  std::string buf(size, '\0');
  ssize_t got = pread(fd, buf.data(), size, static_cast<off_t>(offset));
  buf.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return buf;
}

// Checks that [offset, offset + size) of the request file is one entry.
std::string check_entry(int fd, const Group &g) {
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
  size_t first_eol = head.find("\r\n");
  std::string request_line = head.substr(0, first_eol);
  size_t sp1 = request_line.find(' '), sp2 = request_line.rfind(' ');
  // One space only cannot be followed both by "/" and by "HTTP/".
  if (sp1 == std::string::npos || request_line.compare(sp1, 2, " /") != 0 ||
      request_line.compare(sp2, 6, " HTTP/") != 0)
    return "bad request line: " + request_line;
  const std::string key = "\r\nContent-Length: ";
  size_t cl = head.find(key);
  if (cl == std::string::npos) return "no Content-Length line";
  size_t cl_end = head.find("\r\n", cl + key.size());
  uint64_t length;
  std::string fault;
  if (!to_u64(head.substr(cl + key.size(), cl_end - cl - key.size()), &length, &fault))
    return fault.empty() ? "bad Content-Length" : "Content-Length: " + fault;
  uint64_t body = g.size - (end + 4) - 1;
  if (body != length)
    return "Content-Length " + std::to_string(length) + " but body of " + std::to_string(body);
  if (g.has_ts && (g.ts_offset < end + 4 || g.ts_offset > g.size - 1 ||
                   g.ts_size > g.size - 1 - g.ts_offset))
    return "creation timestamp outside the body";
  return "";
}

struct Span {
  uint64_t offset, size;
};

void check_worker(const std::string &dir, int w, PackageSummary *summary,
                  std::vector<std::string> *problems) {
  std::string index_name = "vt_index_" + std::to_string(w);
  std::string req_name = "vt_req_" + std::to_string(w);
  auto problem = [&](const std::string &where, const std::string &what) {
    problems->push_back(index_name + " " + where + ": " + what);
  };
  // Only regular files are read: a named pipe would be waited on for ever.
  std::string all, why;
  if (!vtlb_read_regular_file(dir + "/" + index_name, &all, &why))
    return problems->push_back(index_name + ": " + why);
  int fd = vtlb_open_regular_file((dir + "/" + req_name).c_str(), O_RDONLY, &why);
  if (fd < 0 && errno == ENOENT) return problem("", "no " + req_name);
  if (fd < 0) return problems->push_back(req_name + ": " + why);
  struct stat st;
  fstat(fd, &st);
  if (all.empty() || all.back() != '\n') problem("", "empty or not ended by a newline");
  std::vector<std::string> lines = split(all, '\n');
  if (!lines.empty()) lines.pop_back();  // after the final newline
  if (lines.empty() || lines[0] != kHeader) problem("line 1", "bad header");
  std::vector<Span> spans;
  for (size_t n = 1; n < lines.size(); n++) {
    std::string where = "line " + std::to_string(n + 1);
    std::vector<std::string> f = split(lines[n], ',');
    if (f.size() < 6 || (f.size() - 2) % 4 != 0) {
      problem(where, "wrong field count");
      continue;
    }
    if (!all_digits(f[0]) || f[0].size() < 9) problem(where, "bad user id " + f[0]);
    if (f[1] != req_name) problem(where, "names " + f[1]);
    summary->users++;
    uint64_t last_time = 0;
    for (size_t at = 2; at < f.size(); at += 4) {
      Group g;
      std::string gw = where + " group " + std::to_string((at - 2) / 4 + 1);
      std::string fault = parse_group(f, at, &g);
      if (!fault.empty()) {
        problem(gw, fault);
        continue;
      }
      if (g.time < last_time) problem(gw, "time goes back");
      last_time = g.time;
      uint64_t file_size = static_cast<uint64_t>(st.st_size);
      if (g.size == 0 || g.size > file_size || g.offset > file_size - g.size) {
        problem(gw, "outside " + req_name);
        continue;
      }
      std::string bad = check_entry(fd, g);
      if (!bad.empty()) problem(gw, bad);
      spans.push_back({g.offset, g.size});
      summary->requests++;
    }
  }
  std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.offset < b.offset; });
  uint64_t covered = 0;
  for (const Span &s : spans) {
    if (s.offset != covered) break;
    covered += s.size;
  }
  if (covered != static_cast<uint64_t>(st.st_size))
    problems->push_back(req_name + ": entries do not tile the file from offset " +
                        std::to_string(covered));
  close(fd);
}

// In a directory every engine user may write to, a file of the package that
// another user owns, or that others may write, may have been put there or
// changed by someone else than the run that made the package.
void check_owners(const std::string &dir, std::vector<std::string> *problems) {
  struct stat dir_st;
  DIR *d = opendir(dir.c_str());
  if (!d || fstat(dirfd(d), &dir_st) != 0) {
    if (d) closedir(d);
    return;
  }
  std::vector<std::string> names;
  while (struct dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    struct stat st;
    if (fstatat(dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (st.st_uid != dir_st.st_uid)
      problems->push_back(name + ": owned by uid " + std::to_string(st.st_uid) +
                          ", not by the directory's owner (uid " + std::to_string(dir_st.st_uid) +
                          ")");
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWOTH)) {
      char mode[8];
      snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      problems->push_back(name + ": others may write it (mode " + mode + ")");
    }
  }
  closedir(d);
}

}  // namespace

std::vector<std::string> check_replay_package(const std::string &dir, PackageSummary *summary) {
  *summary = PackageSummary{};
  std::vector<std::string> problems;
  struct stat st;
  for (int w = 0; stat((dir + "/vt_index_" + std::to_string(w)).c_str(), &st) == 0; w++) {
    check_worker(dir, w, summary, &problems);
    summary->workers++;
  }
  if (summary->workers == 0) problems.push_back(dir + ": no vt_index_0");
  if (stat((dir + "/vt_req_" + std::to_string(summary->workers)).c_str(), &st) == 0)
    problems.push_back(dir + ": vt_req_" + std::to_string(summary->workers) + " has no index file");
  check_owners(dir, &problems);
  Manifest m;
  std::string error;
  summary->manifest = read_manifest(dir, &m, &error);
  std::vector<std::string> found;
  if (summary->manifest == ManifestState::kUnreadable) found.push_back(error);
  if (summary->manifest == ManifestState::kRead) found = verify_manifest(dir, m);
  summary->manifest_problems = found.size();
  problems.insert(problems.end(), found.begin(), found.end());
  return problems;
}

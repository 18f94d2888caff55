#include "base/package/package_files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "base/core/digest.h"
#include "base/core/input_file.h"
#include "base/package/package_format.h"

namespace {

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

std::string uid_text(uid_t uid) {
  return "uid " + std::to_string(uid);
}

// Reads the whole file at fd.
bool read_all(int fd, std::string *text, std::string *why) {
  text->clear();
  char buf[65536];
  for (;;) {
    ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(why, strerror(errno));
    if (got == 0) return true;
    text->append(buf, static_cast<size_t>(got));
  }
}

}  // namespace

ManifestState read_package_manifest(const PackageDir &d, Manifest *m, std::string *error) {
  struct stat st;
  std::string why, text;
  int fd = open_package_file(d, kManifestName, &st, &why);
  if (fd < 0 && errno == ENOENT) return ManifestState::kAbsent;
  bool ok = fd >= 0 && read_all(fd, &text, &why) && parse_manifest(text, m, &why);
  if (fd >= 0) close(fd);
  if (ok) return ManifestState::kRead;
  *error = std::string(kManifestName) + ": " + why;
  return ManifestState::kUnreadable;
}

bool open_package_dir(const std::string &path, bool trust_foreign, PackageDir *d,
                      std::string *error) {
  close_package_dir(d);
  d->path = path;
  d->trust_foreign = trust_foreign;
  d->caller = geteuid();
  d->fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (d->fd < 0 || fstat(d->fd, &st) != 0) {
    int err = errno;
    close_package_dir(d);
    return fail(error, path + ": " + strerror(err));
  }
  d->owner = st.st_uid;
  return true;
}

void close_package_dir(PackageDir *d) {
  if (d->fd >= 0) close(d->fd);
  d->fd = -1;
}

std::string package_file_rule(const PackageDir &d, const struct stat &st) {
  if (S_ISLNK(st.st_mode)) return "a symbolic link, which no reader follows";
  if (!S_ISREG(st.st_mode))
    return std::string(vtlb_kind_of_mode(st.st_mode)) + ", not a regular file";
  if (d.trust_foreign || st.st_uid == d.owner || st.st_uid == d.caller) return "";
  return "owned by " + uid_text(st.st_uid) + ", neither the directory's owner (" +
         uid_text(d.owner) + ") nor the caller (" + uid_text(d.caller) +
         "); --trust-foreign-files accepts it";
}

int open_package_file(const PackageDir &d, const std::string &name, struct stat *st,
                      std::string *why) {
  int fd = openat(d.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    // A link is refused by O_NOFOLLOW: say so rather than "too many levels".
    if (err == ELOOP && fstatat(d.fd, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st->st_mode))
      *why = package_file_rule(d, *st);
    else
      *why = strerror(err);
    errno = err;
    return -1;
  }
  std::string rule;
  if (fstat(fd, st) != 0) rule = strerror(errno);
  if (rule.empty()) rule = package_file_rule(d, *st);
  if (!rule.empty()) {
    close(fd);
    *why = rule;
    errno = EPERM;
    return -1;
  }
  return fd;
}

bool package_file_digest(int fd, std::string *hex, std::string *why) {
  DigestState s;
  vtlb_digest_init(&s);
  char buf[1 << 16];
  for (off_t at = 0;;) {
    ssize_t got = pread(fd, buf, sizeof buf, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(why, strerror(errno));
    if (got == 0) break;
    vtlb_digest_update(&s, buf, static_cast<size_t>(got));
    at += got;
  }
  uint8_t digest[kDigestSize];
  vtlb_digest_final(&s, digest);
  *hex = vtlb_digest_hex(digest);
  return true;
}

bool package_file_exists(const PackageDir &d, const std::string &name) {
  struct stat st;
  return fstatat(d.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool package_dir_names(const PackageDir &d, std::vector<std::string> *names, std::string *why) {
  names->clear();
  int fd = openat(d.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    int err = errno;
    if (fd >= 0) close(fd);
    return fail(why, std::string("cannot list: ") + strerror(err));
  }
  errno = 0;
  while (struct dirent *e = readdir(dir))
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
  int err = errno;
  closedir(dir);
  std::sort(names->begin(), names->end());
  return err == 0 || fail(why, std::string("cannot list: ") + strerror(err));
}

bool open_package(const std::string &path, bool trust_foreign, Package *p,
                  std::vector<std::string> *problems, std::string *error) {
  close_package(p);
  *p = Package{};
  if (!open_package_dir(path, trust_foreign, &p->dir, error)) return false;
  p->manifest_state = read_package_manifest(p->dir, &p->manifest, &p->manifest_error);
  if (p->manifest_state == ManifestState::kUnreadable) problems->push_back(p->manifest_error);
  bool listed = p->manifest_state == ManifestState::kRead;
  if (listed) {
    p->workers = p->manifest.workers;
  } else {
    while (p->workers < kMaxPackageWorkers &&
           package_file_exists(p->dir, index_file_name(p->workers)))
      p->workers++;
  }
  // A worker's file beyond the workers is no part of the package.
  std::string them = std::to_string(p->workers) + (p->workers == 1 ? " worker" : " workers");
  std::vector<std::string> names;
  std::string why;
  if (!package_dir_names(p->dir, &names, &why)) {
    close_package(p);
    return fail(error, path + ": " + why);
  }
  for (const std::string &name : names) {
    bool index;
    int w = worker_of_file_name(name.c_str(), &index);
    if (w < p->workers) continue;
    problems->push_back(
        name +
        (listed ? ": a worker the manifest does not list (it lists " + them + ")"
                : ": beyond the package's " + them + " (no " + index_file_name(p->workers) + ")"));
  }
  if (p->workers == 0) {
    close_package(p);
    return fail(error, listed
                           ? path + ": the manifest lists no worker"
                           : path + " holds no " + index_file_name(0) + ": not a replay package");
  }
  return true;
}

void close_package(Package *p) {
  close_package_dir(&p->dir);
}

std::vector<std::string> package_disagreements(const Package &p, int w, const WorkerCounts &f) {
  std::vector<std::string> out;
  if (p.manifest_state == ManifestState::kRead) {
    const ManifestWorker &m = p.manifest.files[static_cast<size_t>(w)];
    auto compare = [&](const std::string &name, uint64_t found, uint64_t listed, const char *what) {
      if (found != listed)
        out.push_back(name + ": " + std::to_string(found) + " " + what +
                      " where the manifest says " + std::to_string(listed));
    };
    compare(index_file_name(w), f.users, m.users, "users");
    compare(index_file_name(w), f.requests, m.requests, "requests");
    compare(request_file_name(w), f.request_file_size, m.request_file.size, "bytes");
    compare(index_file_name(w), f.index_file_size, m.index_file.size, "bytes");
  }
  uint64_t start = p.manifest_state == ManifestState::kRead ? p.manifest.capture_start_ms : 0;
  if (f.last_time_ms > kMaxClockMs - start)
    out.push_back(index_file_name(w) + ": send time " + std::to_string(f.last_time_ms) +
                  " ms after the capture's start lies beyond the year 9999");
  return out;
}

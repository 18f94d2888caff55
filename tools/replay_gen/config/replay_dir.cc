// The replay directory: created empty when its line is read, and locked by
// this run until it ends.
#include "tools/replay_gen/config/replay_dir.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/core/shell_cmd.h"
#include "base/core/shell_quote.h"
#include "tools/replay_gen/config/config_reader.h"
#include "tools/replay_gen/config/replay_lock.h"
#include "tools/replay_gen/config_value.h"
#include "tools/replay_gen/error_log_path.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/run_state.h"

namespace {

const char kFname[] = "set_replay_dir";
// Tries at creating the directory while other runs create or remove it.
constexpr int kAttempts = 4;

// The path as one shell word; a leading "-" is kept from reading as an option.
std::string shell_path(const char *path) {
  if (path[0] == '-') return vtlb_shell_quote(std::string("./") + path);
  return vtlb_shell_quote(path);
}

[[noreturn]] void refuse_busy(const char *fname, int holder) {
  if (holder > 0)
    error_log(run.log, 1, fname,
              "Replay directory %s is in use by another run (process %d); left alone.",
              run.config.replay_dir, holder);
  else
    error_log(run.log, 1, fname, "Replay directory %s is in use by another run; left alone.",
              run.config.replay_dir);
  vt_exit(-1);
}

[[noreturn]] void refuse_existing() {
  error_log(run.log, 1, kFname, "Replay directory %s already exists.\n", run.config.replay_dir);
  vt_exit(-1);
}

// Whether a directory that could not be opened was removed or replaced since
// it was looked at, and is to be looked at again; other causes end the run.
bool replaced_meanwhile(int err) {
  return err == ENOENT || err == ENOTDIR || err == ELOOP;
}

[[noreturn]] void refuse_unopenable(const char *fname, int err) {
  error_log(run.log, 1, fname, "Replay directory %s cannot be opened: %s", run.config.replay_dir,
            strerror(err));
  vt_exit(-1);
}

[[noreturn]] void refuse_creation(const char *name) {
  error_log(run.log, 1, "create_dir", "system(create_cmd) failed : Error in creating %s dir '%s'\n",
            name, run.config.replay_dir);
  vt_exit(-1);
}

// The directories above path, as "mkdir -p" makes them. A failure shows when
// the last one cannot be made; the first directory above it that could not
// be made, and why, is kept for that message (*failed_errno 0 when none).
void make_parents(const std::string &path, std::string *failed, int *failed_errno) {
  *failed_errno = 0;
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string parent = path.substr(0, at);
    if (mkdir(parent.c_str(), 0777) == 0 || errno == EEXIST || *failed_errno) continue;
    *failed = parent;
    *failed_errno = errno;
  }
}

// Where an existing replay directory, or the symbolic link given as one,
// really lies: the directory with every link resolved, or the link's own
// place. Empty when that cannot be told.
std::string resolved_place(const std::string &path, bool is_link) {
  char real[PATH_MAX];
  if (!is_link) return realpath(path.c_str(), real) ? real : "";
  size_t slash = path.rfind('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (!realpath(parent.c_str(), real)) return "";
  std::string place = real;
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return (place == "/" ? "" : place) + "/" + name;
}

// Refuses to delete the root, a directory that is, holds or lies inside the
// input base directory or VT_WDIR, or one that holds the configuration file.
void check_removal(const std::string &path, bool is_link) {
  std::string refusal = replay_dir_removal_refusal(path.c_str(), is_link);
  if (refusal.empty()) return;
  error_log(run.log, 1, kFname, "Replay directory %s %s; refusing to delete it (-f).",
            run.config.replay_dir, refusal.c_str());
  vt_exit(-1);
}

// Takes the lock of the existing directory at path for an -f run, or refuses.
bool take_existing(const std::string &path) {
  bool busy;
  int holder;
  int fd = lock_dir(path.c_str(), &busy, &holder);
  if (busy) refuse_busy(kFname, holder);
  if (fd < 0 && replaced_meanwhile(errno)) return false;  // look again
  if (fd < 0 && run.options.run_forcefully) refuse_unopenable(kFname, errno);
  if (!run.options.run_forcefully) {
    if (fd >= 0) close(fd);
    refuse_existing();
  }
  run.replay_dir_state.lock_fd = fd;
  run.replay_dir_state.removal_pending = true;
  return true;
}

// One try: a new directory, or what is there handled. False: look again.
bool prepare(const char *name, const std::string &path) {
  if (create_dir(name, path.c_str())) return true;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return take_existing(path);
  if (!S_ISLNK(st.st_mode)) refuse_creation(name);
  // A symbolic link: with -f the link itself is replaced once the whole
  // configuration is known, never emptied through; without, a link to a
  // directory is an existing directory.
  struct stat target;
  bool to_dir = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  if (!run.options.run_forcefully) {
    if (to_dir) refuse_existing();
    refuse_creation(name);
  }
  run.replay_dir_state.removal_pending = true;
  run.replay_dir_state.link_pending = true;
  return true;
}

// -f on a symbolic link: the link goes, and a directory takes its place.
void replace_link(const char *name) {
  if (unlink(run.replay_dir_state.fs_path.c_str()) != 0 && errno != ENOENT) {
    error_log(run.log, 1, "delete_dir", "Error in deleting dir '%s': %s", run.config.replay_dir,
              strerror(errno));
    vt_exit(-1);
  }
  if (run.log.debug_level)
    debug_log(run.log, 2, "delete_dir", "Existing %s directory '%s' deleted as -f option was used.",
              name, run.config.replay_dir);
}

}  // namespace

bool create_dir(const char *name, const char *dir_name) {
  if (run.log.debug_level)
    debug_log(run.log, 2, "create_dir", "Creating %s directory named as :%s.\n", name, dir_name);
  std::string path = dir_name, parent;
  int parent_errno;
  make_parents(path, &parent, &parent_errno);
  if (mkdir(dir_name, 0777) != 0) {
    if (errno == EEXIST) return false;
    // A directory above that could not be made is the cause, not the
    // "No such file or directory" that follows from it.
    if (errno == ENOENT && parent_errno)
      error_log(run.log, 1, "create_dir", "Error in creating %s dir '%s': %s (making %s)\n", name,
                dir_name, strerror(parent_errno), parent.c_str());
    else
      error_log(run.log, 1, "create_dir", "Error in creating %s dir '%s': %s\n", name, dir_name,
                strerror(errno));
    vt_exit(-1);
  }
  bool busy;
  int holder;
  int fd = lock_dir(dir_name, &busy, &holder);
  if (busy) refuse_busy("create_dir", holder);
  if (fd < 0 && !replaced_meanwhile(errno)) refuse_unopenable("create_dir", errno);
  struct stat mine, there;
  if (fd >= 0 && (fstat(fd, &mine) != 0 || lstat(dir_name, &there) != 0 ||
                  mine.st_ino != there.st_ino || mine.st_dev != there.st_dev)) {
    close(fd);  // removed and replaced by another run before the lock was taken
    fd = -1;
  }
  if (fd < 0) return false;
  // Every engine user may write in it, whatever the umask; the sticky bit
  // keeps each from deleting or replacing the files of another.
  fchmod(fd, 01777);
  run.replay_dir_state.lock_fd = fd;
  return true;
}

void delete_dir(const char *name, const char *dir_name) {
  int status = vtlb_run_shell_cmd("rm -rf  " + shell_path(dir_name));
  if (run.log.debug_level)
    debug_log(run.log, 4, "delete_dir", "return status of system() is = %d", status);
  if (status == -1) {
    error_log(run.log, 1, "delete_dir", "Error in deleting dir '%s': %s", dir_name,
              strerror(errno));
    vt_exit(-1);
  }
  if (vtlb_shell_cmd_failed(status)) {
    error_log(run.log, 1, "delete_dir", "system(delete_cmd) failed : Error in deleting dir '%s'",
              dir_name);
    vt_exit(-1);
  }
  if (run.log.debug_level)
    debug_log(run.log, 2, "delete_dir", "Existing %s directory '%s' deleted as -f option was used.",
              name, dir_name);
}

void set_replay_dir(const char *in_replay_dir) {
  if (run.log.debug_level)
    debug_log(run.log, 4, kFname, "Method Called. replay_dir = %s", in_replay_dir);
  copy_config_value(run.config.replay_dir, kTextBufSize, in_replay_dir, "REPLAY_DIR", kFname);
  // The error log paths must fit before anything is made.
  check_error_log_path(run.options.g_num_thread > 0 ? run.options.g_num_thread : kMaxLoaderThreads,
                       kFname);
  // A dry run leaves the directory as it is; its caller checks it.
  if (run.options.dry_run) return;
  // A directory of an earlier REPLAY_DIR line is no longer this run's.
  release_replay_dir();
  set_interrupt_replay_dir(run.config.replay_dir);
  run.replay_dir_state.fs_path = without_trailing_slashes(in_replay_dir);
  for (int i = 0; i < kAttempts; i++)
    if (prepare("Replay", run.replay_dir_state.fs_path)) return;
  error_log(run.log, 1, kFname,
            "Replay directory %s changed under this run while it was being made.",
            run.config.replay_dir);
  vt_exit(-1);
}

std::string replay_dir_removal_refusal(const char *path, bool is_link) {
  std::string place = resolved_place(without_trailing_slashes(path), is_link);
  if (place.empty()) return "";
  if (place == "/") return "is the root directory";
  char other[PATH_MAX];
  // What a run must never delete: its input, the suite's files, and the
  // configuration it is reading.
  struct Kept {
    std::string path;
    std::string what;
    bool file;
  };
  std::vector<Kept> kept;
  if (run.config.input_dir[0]) {
    std::string base = run.config.input_dir + strnlen(run.config.input_dir, strlen("INPUT_DIR|"));
    base = base.substr(0, base.find('|'));
    if (!base.empty() && realpath(base.c_str(), other))
      kept.push_back({other, "the input directory " + base, false});
  }
  const char *wdir = getenv("VT_WDIR");
  if (wdir && wdir[0] && realpath(wdir, other))
    kept.push_back({other, std::string("VT_WDIR ") + wdir, false});
  if (run.config.config_file[0] && realpath(run.config.config_file, other))
    kept.push_back({other, std::string("the configuration file ") + run.config.config_file, true});
  for (const Kept &k : kept) {
    if (place == k.path) return "is " + k.what;
    if (path_covers(place, k.path)) return "holds " + k.what;
    if (!k.file && path_covers(k.path, place)) return "lies inside " + k.what;
  }
  return "";
}

void complete_replay_dir() {
  ReplayDirState &rd = run.replay_dir_state;
  if (!rd.removal_pending) return;
  rd.removal_pending = false;  // once a run
  check_removal(rd.fs_path, rd.link_pending);
  if (rd.link_pending) {
    replace_link("Replay");
  } else {
    // The lock is held while the old directory goes; it goes with it.
    delete_dir("Replay", rd.fs_path.c_str());
    close(rd.lock_fd);
    rd.lock_fd = -1;
  }
  if (create_dir("Replay", rd.fs_path.c_str())) return;
  bool busy;
  int holder;
  int fd = lock_dir(rd.fs_path.c_str(), &busy, &holder);
  if (busy) refuse_busy(kFname, holder);
  if (fd >= 0) close(fd);
  refuse_existing();
}

void release_replay_dir() {
  ReplayDirState &rd = run.replay_dir_state;
  if (rd.lock_fd >= 0) close(rd.lock_fd);
  rd = ReplayDirState{};
}

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

bool refuse_busy(const RunState &run, const char *fname, int holder, Failure *err) {
  if (holder > 0)
    return fail(err, fname,
                "Replay directory %s is in use by another run (process %d); left alone.",
                run.config.replay_dir, holder);
  return fail(err, fname, "Replay directory %s is in use by another run; left alone.",
              run.config.replay_dir);
}

bool refuse_existing(const RunState &run, Failure *err) {
  return fail(err, kFname, "Replay directory %s already exists.\n", run.config.replay_dir);
}

// Whether a directory that could not be opened was removed or replaced since
// it was looked at, and is to be looked at again; other causes end the run.
bool replaced_meanwhile(int err) {
  return err == ENOENT || err == ENOTDIR || err == ELOOP;
}

bool refuse_unopenable(const RunState &run, const char *fname, int error, Failure *err) {
  return fail(err, fname, "Replay directory %s cannot be opened: %s", run.config.replay_dir,
              strerror(error));
}

bool refuse_creation(const RunState &run, const char *name, Failure *err) {
  return fail(err, "create_dir", "system(create_cmd) failed : Error in creating %s dir '%s'\n",
              name, run.config.replay_dir);
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
bool check_removal(const RunState &run, const std::string &path, bool is_link, Failure *err) {
  std::string refusal = replay_dir_removal_refusal(run, path.c_str(), is_link);
  if (refusal.empty()) return true;
  return fail(err, kFname, "Replay directory %s %s; refusing to delete it (-f).",
              run.config.replay_dir, refusal.c_str());
}

// Takes the lock of the existing directory at path for an -f run, or
// refuses. *again: it was removed or replaced meanwhile, to be looked at again.
bool take_existing(RunState &run, const std::string &path, bool *again, Failure *err) {
  bool busy;
  int holder;
  int fd = lock_dir(path.c_str(), &busy, &holder);
  if (busy) return refuse_busy(run, kFname, holder, err);
  if (fd < 0 && replaced_meanwhile(errno)) return *again = true;
  if (fd < 0 && run.options.run_forcefully) return refuse_unopenable(run, kFname, errno, err);
  if (!run.options.run_forcefully) {
    if (fd >= 0) close(fd);
    return refuse_existing(run, err);
  }
  run.replay_dir_state.lock_fd = fd;
  run.replay_dir_state.removal_pending = true;
  return true;
}

// One try: a new directory, or what is there handled. *again: look again.
bool prepare(RunState &run, const char *name, const std::string &path, bool *again, Failure *err) {
  *again = false;
  bool made;
  if (!create_dir(run, name, path.c_str(), &made, err)) return false;
  if (made) return true;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return *again = true;
  if (S_ISDIR(st.st_mode)) return take_existing(run, path, again, err);
  if (!S_ISLNK(st.st_mode)) return refuse_creation(run, name, err);
  // A symbolic link: with -f the link itself is replaced once the whole
  // configuration is known, never emptied through; without, a link to a
  // directory is an existing directory.
  struct stat target;
  bool to_dir = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  if (!run.options.run_forcefully)
    return to_dir ? refuse_existing(run, err) : refuse_creation(run, name, err);
  run.replay_dir_state.removal_pending = true;
  run.replay_dir_state.link_pending = true;
  return true;
}

// -f on a symbolic link: the link goes, and a directory takes its place.
bool replace_link(const RunState &run, const char *name, Failure *err) {
  if (unlink(run.replay_dir_state.fs_path.c_str()) != 0 && errno != ENOENT)
    return fail(err, "delete_dir", "Error in deleting dir '%s': %s", run.config.replay_dir,
                strerror(errno));
  if (run.log.debug_level)
    debug_log(run.log, 2, "delete_dir", "Existing %s directory '%s' deleted as -f option was used.",
              name, run.config.replay_dir);
  return true;
}

// What a dry run leaves as it is but the run would refuse: an existing
// replay directory without -f, one that -f would not delete.
void note_dry_run_replay_dir(RunState &run) {
  const char *dir = run.config.replay_dir;
  struct stat st;
  bool is_dir = stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
  if (!run.options.run_forcefully) {
    if (is_dir)
      run.dry.problems.push_back(std::string("Replay directory ") + dir +
                                 " already exists (the run replaces it only with -f)");
    return;
  }
  bool is_link = lstat(without_trailing_slashes(dir).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  std::string refusal = is_link || is_dir ? replay_dir_removal_refusal(run, dir, is_link) : "";
  if (!refusal.empty())
    run.dry.problems.push_back(std::string("Replay directory ") + dir + " " + refusal +
                               " (the run refuses to delete it under -f)");
}

}  // namespace

bool create_dir(RunState &run, const char *name, const char *dir_name, bool *made, Failure *err) {
  *made = false;
  if (run.log.debug_level)
    debug_log(run.log, 2, "create_dir", "Creating %s directory named as :%s.\n", name, dir_name);
  std::string path = dir_name, parent;
  int parent_errno;
  make_parents(path, &parent, &parent_errno);
  if (mkdir(dir_name, 0777) != 0) {
    if (errno == EEXIST) return true;
    // A directory above that could not be made is the cause, not the
    // "No such file or directory" that follows from it.
    if (errno == ENOENT && parent_errno)
      return fail(err, "create_dir", "Error in creating %s dir '%s': %s (making %s)\n", name,
                  dir_name, strerror(parent_errno), parent.c_str());
    return fail(err, "create_dir", "Error in creating %s dir '%s': %s\n", name, dir_name,
                strerror(errno));
  }
  bool busy;
  int holder;
  int fd = lock_dir(dir_name, &busy, &holder);
  if (busy) return refuse_busy(run, "create_dir", holder, err);
  if (fd < 0 && !replaced_meanwhile(errno)) return refuse_unopenable(run, "create_dir", errno, err);
  struct stat mine, there;
  if (fd >= 0 && (fstat(fd, &mine) != 0 || lstat(dir_name, &there) != 0 ||
                  mine.st_ino != there.st_ino || mine.st_dev != there.st_dev)) {
    close(fd);  // removed and replaced by another run before the lock was taken
    fd = -1;
  }
  if (fd < 0) return true;
  // Every engine user may write in it, whatever the umask; the sticky bit
  // keeps each from deleting or replacing the files of another.
  fchmod(fd, 01777);
  run.replay_dir_state.lock_fd = fd;
  *made = true;
  return true;
}

bool delete_dir(const RunState &run, const char *name, const char *dir_name, Failure *err) {
  int status = vtlb_run_shell_cmd("rm -rf  " + shell_path(dir_name));
  if (run.log.debug_level)
    debug_log(run.log, 4, "delete_dir", "return status of system() is = %d", status);
  if (status == -1)
    return fail(err, "delete_dir", "Error in deleting dir '%s': %s", dir_name, strerror(errno));
  if (vtlb_shell_cmd_failed(status))
    return fail(err, "delete_dir", "system(delete_cmd) failed : Error in deleting dir '%s'",
                dir_name);
  if (run.log.debug_level)
    debug_log(run.log, 2, "delete_dir", "Existing %s directory '%s' deleted as -f option was used.",
              name, dir_name);
  return true;
}

bool set_replay_dir(RunState &run, const char *in_replay_dir, Failure *err) {
  if (run.log.debug_level)
    debug_log(run.log, 4, kFname, "Method Called. replay_dir = %s", in_replay_dir);
  if (!copy_config_value(run, run.config.replay_dir, kTextBufSize, in_replay_dir, "REPLAY_DIR",
                         kFname, err))
    return false;
  // The error log paths must fit before anything is made.
  int threads = run.options.g_num_thread > 0 ? run.options.g_num_thread : kMaxLoaderThreads;
  if (!check_error_log_path(run.config.replay_dir, threads, kFname, err)) return false;
  // A dry run leaves the directory as it is; complete_replay_dir says what
  // the run would refuse.
  if (run.options.dry_run) return true;
  // A directory of an earlier REPLAY_DIR line is no longer this run's.
  release_replay_dir(run);
  set_interrupt_replay_dir(run.config.replay_dir);
  run.replay_dir_state.fs_path = without_trailing_slashes(in_replay_dir);
  for (int i = 0; i < kAttempts; i++) {
    bool again;
    if (!prepare(run, "Replay", run.replay_dir_state.fs_path, &again, err)) return false;
    if (!again) return true;
  }
  return fail(err, kFname, "Replay directory %s changed under this run while it was being made.",
              run.config.replay_dir);
}

std::string replay_dir_removal_refusal(const RunState &run, const char *path, bool is_link) {
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

bool complete_replay_dir(RunState &run, Failure *err) {
  if (run.options.dry_run && run.config.replay_dir[0]) {
    note_dry_run_replay_dir(run);
    return true;
  }
  ReplayDirState &rd = run.replay_dir_state;
  if (!rd.removal_pending) return true;
  rd.removal_pending = false;  // once a run
  if (!check_removal(run, rd.fs_path, rd.link_pending, err)) return false;
  if (rd.link_pending) {
    if (!replace_link(run, "Replay", err)) return false;
  } else {
    // The lock is held while the old directory goes; it goes with it.
    if (!delete_dir(run, "Replay", rd.fs_path.c_str(), err)) return false;
    close(rd.lock_fd);
    rd.lock_fd = -1;
  }
  bool made;
  if (!create_dir(run, "Replay", rd.fs_path.c_str(), &made, err)) return false;
  if (made) return true;
  bool busy;
  int holder;
  int fd = lock_dir(rd.fs_path.c_str(), &busy, &holder);
  if (busy) return refuse_busy(run, kFname, holder, err);
  if (fd >= 0) close(fd);
  return refuse_existing(run, err);
}

void release_replay_dir(RunState &run) {
  ReplayDirState &rd = run.replay_dir_state;
  if (rd.lock_fd >= 0) close(rd.lock_fd);
  rd = ReplayDirState{};
}

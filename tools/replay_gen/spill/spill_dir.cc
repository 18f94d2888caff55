#include "tools/replay_gen/spill/spill_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tools/replay_gen/interrupt.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/memory_budget.h"
#include "tools/replay_gen/run_state.h"

namespace {

const char *const kFname = "spill_dir_new_file";

// Loader threads may ask for their first file at the same time; input files
// are opened under it too (descriptor_order_mutex).
pthread_mutex_t dir_mutex = PTHREAD_MUTEX_INITIALIZER;

bool make_dir(RunState &run, Failure *err) {
  constexpr size_t kTemplateLen = sizeof "/vt_spill.XXXXXX" - 1;
  std::string base =
      run.options.dry_run
          ? dry_run_spill_base(getenv("TMPDIR"), sizeof run.spill.dir - 1 - kTemplateLen)
          : std::string(run.config.replay_dir);
  std::string templ = base + "/vt_spill.XXXXXX";
  // The place is the replay directory or a temporary directory that leaves
  // room for the name: the name always fits.
  static_assert(sizeof run.spill.dir >= sizeof run.config.replay_dir + kTemplateLen);
  char name[sizeof run.spill.dir];
  memcpy(name, templ.c_str(), templ.size() + 1);
  if (!mkdtemp(name))
    return fail(err, kFname, "Unable to create spill directory %s: %s", templ.c_str(),
                strerror(errno));
  memcpy(run.spill.dir, name, templ.size() + 1);
  set_interrupt_spill_dir(run.spill.dir);
  return true;
}

void spill_dir_forget(RunState &run) {
  set_interrupt_spill_dir(nullptr);
  run.spill.dir[0] = '\0';
}

// Spill files take descriptors from the top of the range the run may use
// (among the spare ones kept beyond the input files), so that the input
// files, opened beside them in Step 2, get the numbers they get in a run
// that does not spill, and the debug lines that show them are the same.
int move_descriptor_up(int fd) {
  constexpr rlim_t kHighest = 65536;
  constexpr rlim_t kSpares = 16;
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return fd;
  rlim_t top = std::min(lim.rlim_cur, kHighest);
  if (top <= kSpares) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, static_cast<int>(top - kSpares));
  if (high < 0) return fd;
  close(fd);
  return high;
}

}  // namespace

std::string dry_run_spill_base(const char *tmpdir, size_t max) {
  std::string base = tmpdir ? tmpdir : "";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  struct stat st;
  if (base.size() > 1 && base[0] == '/' && base.size() <= max && stat(base.c_str(), &st) == 0 &&
      S_ISDIR(st.st_mode))
    return base;
  return "/tmp";
}

pthread_mutex_t *descriptor_order_mutex() {
  return &dir_mutex;
}

const char *spill_dir_make(RunState &run, Failure *err) {
  pthread_mutex_lock(&dir_mutex);
  bool ok = run.spill.dir[0] || make_dir(run, err);
  pthread_mutex_unlock(&dir_mutex);
  return ok ? run.spill.dir : nullptr;
}

int spill_dir_new_file(RunState &run, const char *what, std::string *path, Failure *err) {
  pthread_mutex_lock(&dir_mutex);
  if (!run.spill.dir[0] && !make_dir(run, err)) {
    pthread_mutex_unlock(&dir_mutex);
    return -1;
  }
  char name[sizeof run.spill.dir + 64];
  snprintf(name, sizeof name, "%s/%s.%lu", run.spill.dir, what,
           static_cast<unsigned long>(run.spill.files_made++));
  set_interrupt_spill_file(name);
  int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  int error = errno;
  if (fd >= 0) {
    unlink(name);
    fd = move_descriptor_up(fd);
  }
  set_interrupt_spill_file(nullptr);
  pthread_mutex_unlock(&dir_mutex);
  if (fd < 0) {
    // SIGINT or SIGTERM removed the directory: the run is ending already.
    while (interrupt_under_way()) pause();
    fail(err, kFname, "Unable to create spill file %s: %s", name, strerror(error));
    return -1;
  }
  *path = name;
  return fd;
}

bool spill_dir_remove(RunState &run, Failure *err) {
  if (!run.spill.dir[0]) return true;
  char written[32];
  format_size(run.spill.bytes_written, written, sizeof written);
  info_log(run.log, 1, "  ",
           "Spill: %s written to spill files; merges: %d in uid/time order, %d in time order, %d "
           "in user order; spill directory %s removed",
           written, run.spill.by_uid.passes + 1, run.spill.by_time.passes + 1,
           run.spill.rows.passes + 1, run.spill.dir);
  if (rmdir(run.spill.dir) != 0)
    return fail(err, "spill_dir_remove", "Unable to remove spill directory %s: %s", run.spill.dir,
                strerror(errno));
  spill_dir_forget(run);
  return true;
}

void spill_dir_abandon(RunState &run) {
  if (!run.spill.dir[0]) return;
  remove_spill_leftovers();
  spill_dir_forget(run);
}

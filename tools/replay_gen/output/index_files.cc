#include "tools/replay_gen/output/index_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/core/safe_file.h"
#include "base/package/package_format.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/spilled_index.h"
#include "tools/replay_gen/run_state.h"
#include "tools/replay_gen/trace_names.h"

namespace {

const char *const kFname = "write_vortan_index_file";

// The request's group; its creation timestamp when wanted and the request
// has one.
void append_group(const RunState &run, const ReqNode &req, std::string *line) {
  IndexGroup g;
  g.time_ms = req.time_stamp;
  g.page_id = req.page_id;
  g.offset = static_cast<uint64_t>(req.offset);
  g.size = req.size;
  if (run.options.do_parameterization && req.creation_ts_offset != 0) {
    g.ts_type = req.type;
    g.ts_offset = req.creation_ts_offset;
    g.ts_size = static_cast<uint64_t>(req.creation_ts_size);
  }
  append_index_group(g, line);
}

std::string index_path(const RunState &run, size_t w) {
  return std::string(run.config.replay_dir) + "/" + index_file_name(static_cast<int>(w));
}

// A write that failed, or a close: the index is incomplete, so the run fails.
bool write_failed(const RunState &run, size_t w, Failure *err) {
  return fail(err, kFname, "Error in writing in file %s. Error %s", index_path(run, w).c_str(),
              strerror(errno));
}

// One worker's index file as it is written, with the digest and size of
// what it was given.
struct IndexFile {
  FILE *fp;
  DigestState digest;
  uint64_t size;
};

// The index files of one run, closed when it goes.
struct IndexFiles {
  const RunState *run;
  std::vector<IndexFile> files;
  ~IndexFiles() {
    for (IndexFile &f : files)
      if (f.fp) fclose(f.fp);
  }
};

bool put_index_text(IndexFiles &out, size_t w, const char *text, size_t len, Failure *err) {
  IndexFile &f = out.files[w];
  if (fwrite(text, len, 1, f.fp) != 1) return write_failed(*out.run, w, err);
  vtlb_digest_update(&f.digest, text, len);
  f.size += len;
  return true;
}

// Creates every worker's index file and writes its header line. The files
// are new: one that someone else put in the replay directory is refused, not
// written through.
bool open_index_files(const RunState &run, int workers, IndexFiles *out, Failure *err) {
  out->run = &run;
  for (int w = 0; w < workers; w++) {
    std::string path = index_path(run, w);
    if (run.log.debug_level)
      debug_log(run.log, 4, trace_name::kOpenFile, "Method Called. file_name = %s, mode = %s",
                path.c_str(), "a");
    // Never writable by others, whatever the umask (0644 under the usual one).
    int fd = vtlb_create_new_file(path.c_str(), O_WRONLY | O_APPEND, 0664);
    FILE *fp = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (!fp) {
      int error = errno;
      if (fd >= 0) close(fd);
      return fail(err, trace_name::kOpenFile, "Unable to open file %s: %s", path.c_str(),
                  strerror(error));
    }
    out->files.push_back(IndexFile{fp, {}, 0});
    vtlb_digest_init(&out->files.back().digest);
    if (!put_index_text(*out, static_cast<size_t>(w), kIndexHeader, kIndexHeaderSize, err))
      return false;
  }
  return true;
}

// Closes the files and notes each one's digest and size for the manifest.
bool close_index_files(RunState &run, IndexFiles *out, Failure *err) {
  bool ok = true;
  for (size_t w = 0; w < out->files.size(); w++) {
    IndexFile &f = out->files[w];
    int closed = fclose(f.fp);
    f.fp = nullptr;
    if (closed != 0 && ok) ok = write_failed(run, w, err);
    vtlb_digest_final(&f.digest, run.manifest.index_digest[w]);
    run.manifest.index_size[w] = f.size;
  }
  return ok;
}

void release_user(UserNode *user) {
  free(user->req_node);
  free(user);
}

bool check_worker(uint64_t user_id, int vvm_id, size_t files, Failure *err) {
  if (static_cast<size_t>(vvm_id) < files) return true;
  return fail(err, kFname, "User %lu has worker %d, beyond the %zu index files", user_id, vvm_id,
              files);
}

// A line longer than this goes out in pieces (a run that spills holds no
// user whole).
constexpr size_t kLinePiece = 1 << 20;

// The users of a run that spills, read back in creation order, each handed
// to user and its rows to row; either may stop the walk (false).
template <typename OnUser, typename OnRow>
bool walk_spilled_users(RunState &run, OnUser on_user, OnRow on_row, Failure *err) {
  SpilledUsers users;
  bool ok = spilled_users_begin(run, &users, err);
  UserEntry user;
  ReqNode row;
  bool more_users = true, more_rows;
  while (ok && (ok = next_spilled_user(run, &users, &user, &more_users, err)) && more_users) {
    ok = on_user(user);
    while (ok && (ok = next_spilled_row(&users, &row, &more_rows, err)) && more_rows)
      ok = on_row(user, row);
  }
  spilled_users_end(run, &users);
  return ok;
}

// The index files of a run that spills, from its users read back in
// creation order; a line ends when the next user begins, and at the end.
bool write_spilled_index_lines(RunState &run, IndexFiles &out, Failure *err) {
  std::string line;
  line.reserve(102400);
  int last_vvm = -1;
  auto end_line = [&]() {
    if (last_vvm < 0) return true;
    line.push_back('\n');
    return put_index_text(out, static_cast<size_t>(last_vvm), line.data(), line.size(), err);
  };
  bool ok = walk_spilled_users(
      run,
      [&](const UserEntry &user) {
        if (!end_line() || !check_worker(user.user_id, user.vvm_id, out.files.size(), err))
          return false;
        start_index_line(user.user_id, user.vvm_id, &line);
        last_vvm = user.vvm_id;
        return true;
      },
      [&](const UserEntry &user, const ReqNode &row) {
        append_group(run, row, &line);
        run.manifest.requests[user.vvm_id]++;
        if (line.size() < kLinePiece) return true;
        bool put = put_index_text(out, user.vvm_id, line.data(), line.size(), err);
        line.clear();
        return put;
      },
      err);
  return ok && end_line();
}

// A dry run's users, handed to the caller's PlannedUsers instead of being
// written; the user list is consumed as the index files would consume it.
bool plan_index_lines(RunState &run, Failure *err) {
  const PlannedUsers *planned = run.options.planned_users;
  auto give_user = [&](int vvm_id, uint64_t user_id) {
    if (planned) planned->user(planned->context, vvm_id, user_id);
  };
  auto give_row = [&](int vvm_id, const ReqNode &row) {
    run.manifest.requests[vvm_id]++;
    if (planned) planned->request(planned->context, row);
  };
  if (run.spill.spilling) {
    if (!walk_spilled_users(
            run,
            [&](const UserEntry &user) {
              give_user(user.vvm_id, user.user_id);
              return true;
            },
            [&](const UserEntry &user, const ReqNode &row) {
              give_row(user.vvm_id, row);
              return true;
            },
            err))
      return false;
  }
  while (UserNode *user = run.users.head) {
    give_user(user->vvm_id, user->user_id);
    for (uint32_t r = 0; r < user->num_req; r++) give_row(user->vvm_id, user->req_node[r]);
    run.users.head = user->next;
    release_user(user);
  }
  run.users.tail = nullptr;
  return !planned || !planned->done || planned->done(planned->context, err);
}

}  // namespace

void format_user_line(const RunState &run, const UserNode &user, std::string *line) {
  start_index_line(user.user_id, user.vvm_id, line);
  for (uint32_t r = 0; r < user.num_req; r++) append_group(run, user.req_node[r], line);
  line->push_back('\n');
}

bool write_vortan_index_file(RunState &run, Failure *err) {
  if (run.log.debug_level) debug_log(run.log, 4, kFname, "Method Called");
  int workers;
  if (!checked_num_vvm(run, kFname, &workers, err)) return false;
  IndexFiles out;
  if (!run.options.dry_run && !open_index_files(run, workers, &out, err)) return false;
  if (run.spill.spilling ? run.spill.num_users == 0 : !run.users.head)
    return fail(err, kFname, "No user found in the list\n");
  if (run.options.dry_run) return plan_index_lines(run, err);
  if (run.spill.spilling)
    return write_spilled_index_lines(run, out, err) && close_index_files(run, &out, err);
  std::string line;
  line.reserve(102400);
  while (run.users.head) {
    UserNode *user = run.users.head;
    format_user_line(run, *user, &line);
    if (!check_worker(user->user_id, user->vvm_id, out.files.size(), err) ||
        !put_index_text(out, user->vvm_id, line.data(), line.size(), err))
      return false;
    run.manifest.requests[user->vvm_id] += user->num_req;
    run.users.head = user->next;
    release_user(user);
  }
  run.users.tail = nullptr;
  return close_index_files(run, &out, err);
}

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
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/spilled_index.h"
#include "tools/replay_gen/run_state.h"

namespace {

const char *const kFname = "write_vortan_index_file";

// The request's group; its creation timestamp when wanted and the request
// has one.
void append_group(const ReqNode &req, std::string *line) {
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

std::string index_path(size_t w) {
  return std::string(run.config.replay_dir) + "/" + index_file_name(static_cast<int>(w));
}

// A write that failed, or a close: the index is incomplete, so the run ends.
[[noreturn]] void write_failed(size_t w) {
  error_log(1, kFname, "Error in writing in file %s. Error %s", index_path(w).c_str(),
            strerror(errno));
  vt_exit(-1);
}

// One worker's index file as it is written, with the digest and size of
// what it was given.
struct IndexFile {
  FILE *fp;
  DigestState digest;
  uint64_t size;
};

void put_index_text(std::vector<IndexFile> &files, size_t w, const char *text, size_t len) {
  IndexFile &f = files[w];
  if (fwrite(text, len, 1, f.fp) != 1) write_failed(w);
  vtlb_digest_update(&f.digest, text, len);
  f.size += len;
}

// Creates every worker's index file and writes its header line. The files
// are new: one that someone else put in the replay directory is refused, not
// written through.
std::vector<IndexFile> open_index_files(int workers) {
  std::vector<IndexFile> files;
  for (int w = 0; w < workers; w++) {
    std::string path = index_path(w);
    if (run.log.debug_level)
      debug_log(4, "open_file", "Method Called. file_name = %s, mode = %s", path.c_str(), "a");
    // Never writable by others, whatever the umask (0644 under the usual one).
    int fd = vtlb_create_new_file(path.c_str(), O_WRONLY | O_APPEND, 0664);
    FILE *fp = fd >= 0 ? fdopen(fd, "a") : nullptr;
    if (!fp) {
      error_log(1, "open_file", "Unable to open file %s: %s", path.c_str(), strerror(errno));
      vt_exit(-1);
    }
    files.push_back(IndexFile{fp, {}, 0});
    vtlb_digest_init(&files.back().digest);
    put_index_text(files, static_cast<size_t>(w), kIndexHeader, kIndexHeaderSize);
  }
  return files;
}

// Closes the files and notes each one's digest and size for the manifest.
void close_index_files(std::vector<IndexFile> &files) {
  for (size_t w = 0; w < files.size(); w++) {
    if (fclose(files[w].fp) != 0) write_failed(w);
    vtlb_digest_final(&files[w].digest, run.manifest.index_digest[w]);
    run.manifest.index_size[w] = files[w].size;
  }
}

void release_user(UserNode *user) {
  free(user->req_node);
  free(user);
}

void check_worker(uint64_t user_id, int vvm_id, size_t files) {
  if (static_cast<size_t>(vvm_id) < files) return;
  error_log(1, kFname, "User %lu has worker %d, beyond the %zu index files", user_id, vvm_id,
            files);
  vt_exit(-1);
}

// A line longer than this goes out in pieces (a run that spills holds no
// user whole).
constexpr size_t kLinePiece = 1 << 20;

// The index files of a run that spills, from its users read back in
// creation order.
void write_spilled_index_lines(std::vector<IndexFile> &files) {
  SpilledUsers users;
  spilled_users_begin(&users);
  std::string line;
  line.reserve(102400);
  UserEntry user;
  ReqNode row;
  while (next_spilled_user(&users, &user)) {
    check_worker(user.user_id, user.vvm_id, files.size());
    start_index_line(user.user_id, user.vvm_id, &line);
    while (next_spilled_row(&users, &row)) {
      append_group(row, &line);
      run.manifest.requests[user.vvm_id]++;
      if (line.size() >= kLinePiece) {
        put_index_text(files, user.vvm_id, line.data(), line.size());
        line.clear();
      }
    }
    line.push_back('\n');
    put_index_text(files, user.vvm_id, line.data(), line.size());
  }
  spilled_users_end(&users);
}

}  // namespace

void format_user_line(const UserNode &user, std::string *line) {
  start_index_line(user.user_id, user.vvm_id, line);
  for (uint32_t r = 0; r < user.num_req; r++) append_group(user.req_node[r], line);
  line->push_back('\n');
}

void write_vortan_index_file() {
  if (run.log.debug_level) debug_log(4, kFname, "Method Called");
  std::vector<IndexFile> files = open_index_files(checked_num_vvm(kFname));
  if (run.spill.spilling ? run.spill.num_users == 0 : !run.users.head) {
    error_log(1, kFname, "No user found in the list\n");
    vt_exit(-1);
  }
  if (run.spill.spilling) {
    write_spilled_index_lines(files);
    close_index_files(files);
    return;
  }
  std::string line;
  line.reserve(102400);
  while (run.users.head) {
    UserNode *user = run.users.head;
    format_user_line(*user, &line);
    check_worker(user->user_id, user->vvm_id, files.size());
    put_index_text(files, user->vvm_id, line.data(), line.size());
    run.manifest.requests[user->vvm_id] += user->num_req;
    run.users.head = user->next;
    release_user(user);
  }
  run.users.tail = nullptr;
  close_index_files(files);
}

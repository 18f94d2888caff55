#include "tools/replay_gen/output/index_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>
#include <string>
#include <vector>

#include "base/core/safe_file.h"
#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"
#include "tools/replay_gen/output/spilled_index.h"
#include "tools/replay_gen/run_state.h"

const char kIndexHeader[] =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";

namespace {

const char *const kFname = "write_vortan_index_file";

// A decimal number, as printf's %d, %u or %lu would write it.
template <typename T>
void append_number(T value, std::string *line) {
  char digits[24];
  char *end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
  line->append(digits, static_cast<size_t>(end - digits));
}

// ",<time>,<page_id>,<offset>,<size>", then "|<type>:<ts offset>:<ts size>"
// when the creation timestamp is wanted and the request has one.
void append_group(const ReqNode &req, std::string *line) {
  line->push_back(',');
  append_number(req.time_stamp, line);
  line->push_back(',');
  append_number(req.page_id, line);
  line->push_back(',');
  append_number(static_cast<uint64_t>(req.offset), line);
  line->push_back(',');
  append_number(req.size, line);
  if (run.options.do_parameterization && req.creation_ts_offset != 0) {
    line->push_back('|');
    line->push_back(req.type);
    line->push_back(':');
    append_number(req.creation_ts_offset, line);
    line->push_back(':');
    append_number(static_cast<int>(req.creation_ts_size), line);
  }
}

std::string index_path(size_t w) {
  return std::string(run.config.replay_dir) + "/vt_index_" + std::to_string(w);
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
    put_index_text(files, static_cast<size_t>(w), kIndexHeader, sizeof(kIndexHeader) - 1);
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

// "<user_id>,vt_req_<w>", the id with 9 digits at least, zero-padded on the
// left, in place of line's text.
void start_user_line(uint64_t user_id, int vvm_id, std::string *line) {
  char id[24];
  char *end = std::to_chars(id, id + sizeof(id), user_id).ptr;
  size_t id_len = static_cast<size_t>(end - id);
  line->assign(id_len < 9 ? 9 - id_len : 0, '0');
  line->append(id, id_len);
  line->append(",vt_req_");
  append_number(vvm_id, line);
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
    start_user_line(user.user_id, user.vvm_id, &line);
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
  start_user_line(user.user_id, user.vvm_id, line);
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

#include "tools/replay_gen/output/index_files.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <charconv>
#include <string>
#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"
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

// Opens every worker's index file for appending and writes its header line.
std::vector<FILE *> open_index_files(int workers) {
  std::vector<FILE *> files;
  for (int w = 0; w < workers; w++) {
    std::string path = std::string(run.config.replay_dir) + "/vt_index_" + std::to_string(w);
    FILE *fp = open_file(path.c_str(), "a");
    if (!fp) vt_exit(-1);
    if (fwrite(kIndexHeader, sizeof(kIndexHeader) - 1, 1, fp) != 1)
      error_log(2, kFname, "Error in writing in file %s. Error %s", path.c_str(), strerror(errno));
    files.push_back(fp);
  }
  return files;
}

void close_index_files(const std::vector<FILE *> &files) {
  for (size_t w = 0; w < files.size(); w++) {
    if (fclose(files[w]) != 0)
      error_log(2, kFname, "Error in writing in file %s/vt_index_%zu. Error %s",
                run.config.replay_dir, w, strerror(errno));
  }
}

void release_user(UserNode *user) {
  free(user->req_node);
  free(user);
}

}  // namespace

void format_user_line(const UserNode &user, std::string *line) {
  // The user id has 9 digits at least, zero-padded on the left.
  char id[24];
  char *end = std::to_chars(id, id + sizeof(id), user.user_id).ptr;
  size_t id_len = static_cast<size_t>(end - id);
  line->assign(id_len < 9 ? 9 - id_len : 0, '0');
  line->append(id, id_len);
  line->append(",vt_req_");
  append_number(static_cast<int>(user.vvm_id), line);
  for (uint32_t r = 0; r < user.num_req; r++) append_group(user.req_node[r], line);
  line->push_back('\n');
}

void write_vortan_index_file() {
  if (run.log.debug_level) debug_log(4, kFname, "Method Called");
  std::vector<FILE *> files = open_index_files(checked_num_vvm(kFname));
  if (!run.users.head) {
    error_log(1, kFname, "No user found in the list\n");
    vt_exit(-1);
  }
  std::string line;
  line.reserve(102400);
  while (run.users.head) {
    UserNode *user = run.users.head;
    format_user_line(*user, &line);
    if (user->vvm_id >= files.size() ||
        fwrite(line.data(), line.size(), 1, files[user->vvm_id]) != 1)
      error_log(2, kFname, "Error in writing user in vortan index file. Error %s\n",
                strerror(errno));
    run.users.head = user->next;
    release_user(user);
  }
  run.users.tail = nullptr;
  close_index_files(files);
}

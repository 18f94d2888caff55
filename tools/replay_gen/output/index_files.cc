#include "tools/replay_gen/output/index_files.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "tools/replay_gen/fatal.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/output/request_files.h"

const char kIndexHeader[] =
    "#user_id, request_file, timestamp, page_id, offset, size,timestamp, page_id, offset, size, "
    "...\n";

namespace {

const char *const kFname = "write_vortan_index_file";

void append_group(const ReqNode &req, std::string *line) {
  char group[160];
  int len = snprintf(group, sizeof(group), ",%lu,%d,%lu,%lu", req.time_stamp, req.page_id,
                     static_cast<uint64_t>(req.offset), req.size);
  if (do_parameterization && req.creation_ts_offset != 0)
    len += snprintf(group + len, sizeof(group) - len, "|%c:%u:%d", req.type, req.creation_ts_offset,
                    req.creation_ts_size);
  line->append(group, static_cast<size_t>(len));
}

// Opens every worker's index file for appending and writes its header line.
std::vector<FILE *> open_index_files(int workers) {
  std::vector<FILE *> files;
  for (int w = 0; w < workers; w++) {
    std::string path = std::string(replay_dir) + "/vt_index_" + std::to_string(w);
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
      error_log(2, kFname, "Error in writing in file %s/vt_index_%zu. Error %s", replay_dir, w,
                strerror(errno));
  }
}

void release_user(UserNode *user) {
  free(user->req_node);
  free(user);
}

}  // namespace

void format_user_line(const UserNode &user, std::string *line) {
  char user_part[64];
  int len = snprintf(user_part, sizeof(user_part), "%9.9lu,vt_req_%d", user.user_id,
                     static_cast<int>(user.vvm_id));
  line->assign(user_part, static_cast<size_t>(len));
  for (uint32_t r = 0; r < user.num_req; r++) append_group(user.req_node[r], line);
  line->push_back('\n');
}

void write_vortan_index_file() {
  if (debug_level) debug_log(4, kFname, "Method Called");
  std::vector<FILE *> files = open_index_files(checked_num_vvm(kFname));
  if (!head) {
    error_log(1, kFname, "No user found in the list\n");
    vt_exit(-1);
  }
  std::string line;
  line.reserve(102400);
  while (head) {
    UserNode *user = head;
    format_user_line(*user, &line);
    if (user->vvm_id >= files.size() ||
        fwrite(line.data(), line.size(), 1, files[user->vvm_id]) != 1)
      error_log(2, kFname, "Error in writing user in vortan index file. Error %s\n",
                strerror(errno));
    head = user->next;
    release_user(user);
  }
  tail = nullptr;
  close_index_files(files);
}

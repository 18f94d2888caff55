#include "tools/replay/replay_outputs.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/core/safe_file.h"

namespace {

bool same_file(const ReplayOutput &out, const struct stat &st) {
  return out.made && out.dev == st.st_dev && out.ino == st.st_ino;
}

}  // namespace

bool make_replay_outputs(const std::vector<ReplayOutput *> &outputs, const ReplayOutput **failed,
                         std::string *error) {
  for (size_t i = 0; i < outputs.size(); i++) {
    ReplayOutput *out = outputs[i];
    if (out->path.empty()) continue;
    out->fd = vtlb_create_new_file(out->path.c_str(), O_WRONLY, 0644);
    struct stat st;
    if (out->fd >= 0 && fstat(out->fd, &st) == 0) {
      out->made = true;
      out->dev = st.st_dev;
      out->ino = st.st_ino;
      continue;
    }
    int err = errno;
    *failed = out;
    *error = err == EEXIST ? out->path + " exists already; " + out->what + " into a new file"
                           : "cannot create " + out->path + ": " + strerror(err);
    if (err == EEXIST && lstat(out->path.c_str(), &st) == 0)
      for (size_t j = 0; j < i; j++)
        if (same_file(*outputs[j], st))
          *error = out->path + " is the file of " + outputs[j]->option + " " + outputs[j]->path +
                   ": each output goes into a file of its own";
    if (out->fd >= 0) close(out->fd);
    out->fd = -1;
    for (size_t j = 0; j < i; j++) drop_replay_output(outputs[j]);
    return false;
  }
  return true;
}

bool write_replay_output(ReplayOutput *out, const std::string &text, std::string *error) {
  bool ok = vtlb_write_all(out->fd, text.data(), text.size());
  int err = errno;
  if (close(out->fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  out->fd = -1;
  if (ok) {
    out->made = false;  // kept
    return true;
  }
  *error = "cannot write " + out->path + ": " + strerror(err);
  drop_replay_output(out);
  return false;
}

void drop_replay_output(ReplayOutput *out) {
  if (out->fd >= 0) close(out->fd);
  out->fd = -1;
  struct stat st;
  if (out->made && lstat(out->path.c_str(), &st) == 0 && same_file(*out, st))
    unlink(out->path.c_str());
  out->made = false;
}

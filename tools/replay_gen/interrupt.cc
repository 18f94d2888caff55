#include "tools/replay_gen/interrupt.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>

#include "base/core/group_cmd.h"
#include "tools/replay_gen/records.h"

#ifdef VT_COVERAGE
// Writes the coverage counters; _exit would skip them.
extern "C" void __gcov_dump(void);
#endif

namespace {

constexpr size_t kNoteSize = kTextBufSize + 64;
constexpr char kLead[] = "on_interrupt:Run stopped by signal ";
constexpr char kNoDir[] = "; no replay directory was made.\n";
// Room for the running suite command's note (the command is cut to 400).
constexpr size_t kCommandNoteSize = 512;

// Two notes, so that the handler always finds a whole one while the other is
// being rewritten.
char dir_note[2][kNoteSize];
volatile sig_atomic_t dir_note_index = -1;
char gen_input[256];
volatile sig_atomic_t gen_input_set = 0;
// The spill directory and the file being made in it; like the notes, two
// copies of each, so that the handler finds a whole one.
volatile sig_atomic_t interrupted = 0;
char spill_dir[2][kNoteSize];
volatile sig_atomic_t spill_dir_index = -1;
char spill_file[2][kNoteSize + 64];
volatile sig_atomic_t spill_file_index = -1;

// Appends text to buf at *len, within room bytes (NUL included).
void append(char *buf, size_t room, size_t *len, const char *text) {
  while (*text && *len + 1 < room) buf[(*len)++] = *text++;
  buf[*len] = '\0';
}

void write_all_stderr(const char *buf, size_t len) {
  while (len) {
    ssize_t done = write(STDERR_FILENO, buf, len);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    buf += done;
    len -= static_cast<size_t>(done);
  }
}

extern "C" void on_interrupt(int signo) {
  interrupted = 1;
  // A suite command stops with the run: its whole process group is ended and
  // waited for before the run says it stopped.
  pid_t group = vtlb_running_group();
  if (group > 0) vtlb_end_group(group);
  if (gen_input_set) unlink(gen_input);
  remove_spill_leftovers();
  char line[kNoteSize + sizeof kLead + kCommandNoteSize];
  const char *command = group > 0 ? vtlb_running_group_cmd() : nullptr;
  size_t len = format_interrupt_line(signo, command, line, sizeof line);
  write_all_stderr(line, len);
#ifdef VT_COVERAGE
  __gcov_dump();
#endif
  _exit(128 + signo);
}

}  // namespace

bool interrupt_under_way() {
  return interrupted != 0;
}

void remove_spill_leftovers() {
  int file = spill_file_index;
  if (file >= 0) unlink(spill_file[file]);
  int dir = spill_dir_index;
  if (dir >= 0) rmdir(spill_dir[dir]);
}

size_t format_interrupt_line(int signo, const char *command, char *buf, size_t room) {
  size_t len = 0;
  if (room == 0) return 0;
  buf[0] = '\0';
  append(buf, room, &len, kLead);
  char digits[12];
  int n = 0;
  unsigned value = signo < 0 ? 0u : static_cast<unsigned>(signo);
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value && n < 11);
  char number[12];
  for (int i = 0; i < n; i++) number[i] = digits[n - 1 - i];
  number[n] = '\0';
  append(buf, room, &len, number);
  if (command) {
    append(buf, room, &len, " while the command ");
    append(buf, room, &len, command);
    append(buf, room, &len, " ran (its process group was ended)");
  }
  int index = dir_note_index;
  append(buf, room, &len, index >= 0 ? dir_note[index] : kNoDir);
  return len;
}

void install_interrupt_handlers() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  for (int signo : {SIGINT, SIGTERM}) {
    struct sigaction before;
    if (sigaction(signo, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(signo, &action, nullptr);
  }
}

void set_interrupt_replay_dir(const char *dir) {
  int next = dir_note_index == 0 ? 1 : 0;
  snprintf(dir_note[next], kNoteSize, "; replay directory %s is incomplete.\n", dir);
  dir_note_index = next;
}

void set_interrupt_gen_input(const char *path) {
  gen_input_set = 0;
  if (!path) return;
  snprintf(gen_input, sizeof gen_input, "%s", path);
  gen_input_set = 1;
}

void remove_interrupt_gen_input() {
  if (!gen_input_set) return;
  gen_input_set = 0;
  unlink(gen_input);
}

namespace {

// Copies text into the copy of pair that the handler is not reading, then
// points index at it; null clears it.
template <size_t N>
void set_pair(char (&pair)[2][N], volatile sig_atomic_t *index, const char *text) {
  if (!text) {
    *index = -1;
    return;
  }
  int next = *index == 0 ? 1 : 0;
  snprintf(pair[next], N, "%s", text);
  *index = next;
}

}  // namespace

void set_interrupt_spill_dir(const char *dir) {
  set_pair(spill_dir, &spill_dir_index, dir);
}

void set_interrupt_spill_file(const char *path) {
  set_pair(spill_file, &spill_file_index, path);
}

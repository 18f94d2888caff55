// The files a run or a merge writes (--json, --results, --html): each made
// as a new file before anything is sent or added up, so that a run never
// sends its load and then finds that its report has nowhere to go. Outputs
// are told apart by device and inode, not by the spelling of their names.
#ifndef VT_TOOLS_REPLAY_REPLAY_OUTPUTS_H_
#define VT_TOOLS_REPLAY_REPLAY_OUTPUTS_H_

#include <sys/types.h>

#include <string>
#include <vector>

struct ReplayOutput {
  const char *option = "";  // "--json", as messages name it
  const char *what = "";    // "the report goes", for the message of a file that exists
  std::string path;         // empty: not asked for
  int fd = -1;
  bool made = false;  // made by this run, and not yet written whole
  dev_t dev = 0;
  ino_t ino = 0;
};

// Makes every output asked for, in order, as a new file. False with
// *failed naming the output and *error the reason ("r.json exists already;
// the report goes into a new file", "o/r.csv is the file of --json
// ./o/r.csv: each output goes into a file of its own"); the outputs made
// before it are removed again.
bool make_replay_outputs(const std::vector<ReplayOutput *> &outputs, const ReplayOutput **failed,
                         std::string *error);

// Writes text into the output and closes it. False with *error when a write
// or the close failed; the file, cut short, is then removed.
bool write_replay_output(ReplayOutput *out, const std::string &text, std::string *error);

// Closes and removes an output made by make_replay_outputs (when what lies
// at its path is still the file it made).
void drop_replay_output(ReplayOutput *out);

#endif  // VT_TOOLS_REPLAY_REPLAY_OUTPUTS_H_

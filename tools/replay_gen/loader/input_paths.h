// Step 1: composing the paths of the input tree and the growing file list.
#ifndef VT_REPLAY_GEN_LOADER_INPUT_PATHS_H_
#define VT_REPLAY_GEN_LOADER_INPUT_PATHS_H_

// Formats a path into buf (kTextBufSize bytes) and returns its length. A path
// that does not fit is refused: the run ends rather than use a cut path.
int format_input_path(char *buf, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Appends a copy of path (len characters) to seq_file_path, growing the list
// as needed. oom_name names the allocation in an out-of-memory message.
void append_input_file(const char *path, int len, const char *oom_name);

#endif  // VT_REPLAY_GEN_LOADER_INPUT_PATHS_H_

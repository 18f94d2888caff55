// Runs a shell command and keeps the last line it printed.
#ifndef VT_BASE_CORE_RUN_CMD_H_
#define VT_BASE_CORE_RUN_CMD_H_

// Runs cmd through the shell and leaves in out (length bytes) the last piece
// of output read, cut at its first line end. Pieces are at most length - 1
// characters. Returns 0, or -1 when the command cannot be started. When the
// command prints nothing, out is left as it was.
int vtlb_run_cmd_and_get_last_line(const char *cmd, int length, char *out);

#endif  // VT_BASE_CORE_RUN_CMD_H_

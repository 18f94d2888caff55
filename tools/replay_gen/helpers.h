// Small helpers shared by the stages: table and text growth, field
// splitting and duration parsing.
#ifndef VT_REPLAY_GEN_HELPERS_H_
#define VT_REPLAY_GEN_HELPERS_H_

#include <stddef.h>
#include <stdint.h>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/log.h"

// Hands out the next row of a table that grows by four entries at a time;
// false, with *err, when the table cannot grow (memory, or the count bound).
bool create_table_entry(uint16_t *row_num, uint16_t *total, uint16_t *max, char **ptr, int size,
                        const char *name, Failure *err);

// A heap copy of text with room - 1 spare bytes after its NUL (room >= 1),
// or null with *err. fname and what name the allocation in the debug and
// out-of-memory lines.
char *copy_text(const LogGates &log, const char *fname, const char *what, const char *text,
                size_t room, Failure *err, int index = -1);

// Appends value and line_end to the heap text *text of *len bytes, keeping it
// NUL-terminated; false, with *err, for a total beyond the 32-bit length.
bool append_text(char **text, int32_t *len, const char *value, const char *line_end,
                 const char *what, const char *fname, Failure *err);

// Splits read_buf in place at any character of token. Empty fields vanish.
// Returns the fields stored, or max_flds + 1 when more fields were present.
int get_tokens_local(const LogGates &log, char *read_buf, char *fields[], const char *token,
                     int max_flds);

// Reads "s", "m:s", "h:m:s" or "h:m:s.ms" into milliseconds; 60000 when no
// number can be read.
int32_t get_time_from_format_local(const char *str);
// The same duration read whole: 64-bit arithmetic, parts as large as they
// are written (held at the 64-bit bounds), no wrap-around.
int64_t duration_ms_whole(const char *str);

#endif  // VT_REPLAY_GEN_HELPERS_H_

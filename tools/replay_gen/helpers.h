// Small helpers shared by the stages: table growth, field splitting and
// duration parsing.
#ifndef VT_REPLAY_GEN_HELPERS_H_
#define VT_REPLAY_GEN_HELPERS_H_

#include <stdint.h>

// Hands out the next row of a table that grows by four entries at a time.
// Ends the run when the table cannot grow (memory, or the count bound).
int create_table_entry(uint16_t *row_num, uint16_t *total, uint16_t *max, char **ptr, int size,
                       const char *name);
// The same for tables with 32-bit counts (a user's requests).
int create_table_entry(uint32_t *row_num, uint32_t *total, uint32_t *max, char **ptr, int size,
                       const char *name);

// Splits read_buf in place at any character of token. Empty fields vanish.
// Returns the fields stored, or max_flds + 1 when more fields were present.
int get_tokens_local(char *read_buf, char *fields[], const char *token, int max_flds);

// Reads "s", "m:s", "h:m:s" or "h:m:s.ms" into milliseconds; 60000 when no
// number can be read.
int32_t get_time_from_format_local(const char *str);

#endif  // VT_REPLAY_GEN_HELPERS_H_

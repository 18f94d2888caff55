// The head of a request entry, shared by the planning of the entries and by
// the threads that write them.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_ENTRY_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_ENTRY_H_

#include <stdint.h>

#include <string>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Appends to head the service's head lines, "Content-Length: <n>\r\n\r\n"
// and the configured top lines, n being body_size plus the top lines' length.
// Fails when page_id names no service with a composed head.
bool append_entry_head(const RunState &run, std::string *head, int page_id, uint64_t body_size,
                       int vvm_id, Failure *err);

// The bytes append_entry_head appends for the same arguments, into *size,
// without composing them: the planning of the entries needs only their sizes.
bool entry_head_size(const RunState &run, int page_id, uint64_t body_size, int vvm_id,
                     uint64_t *size, Failure *err);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_ENTRY_H_

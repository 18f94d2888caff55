// The head of a request entry, shared by the planning of the entries and by
// the threads that write them.
#ifndef VT_REPLAY_GEN_OUTPUT_REQUEST_ENTRY_H_
#define VT_REPLAY_GEN_OUTPUT_REQUEST_ENTRY_H_

#include <stdint.h>

#include <string>

// Appends to head the service's head lines, "Content-Length: <n>\r\n\r\n"
// and the configured top lines, n being body_size plus the top lines' length.
// Ends the run when page_id names no service with a composed head.
void append_entry_head(std::string *head, int page_id, uint64_t body_size, int vvm_id);

// The bytes append_entry_head appends for the same arguments, without
// composing them: the planning of the entries needs only their sizes.
uint64_t entry_head_size(int page_id, uint64_t body_size, int vvm_id);

#endif  // VT_REPLAY_GEN_OUTPUT_REQUEST_ENTRY_H_

// Plain text scanners applied to one line of a request body, to a record's
// URL or to its time line: customer id, creation timestamp, element values,
// URL-derived service names and the numbers of a time. They hold no state and
// may run in several threads at once.
#ifndef VT_REPLAY_GEN_LOADER_FIELD_EXTRACT_H_
#define VT_REPLAY_GEN_LOADER_FIELD_EXTRACT_H_

#include <stddef.h>
#include <stdint.h>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/records.h"

// Results of extract_uid besides a customer id.
constexpr int64_t kUidNotOnLine = -1;
constexpr int64_t kUidNoText = -2;
constexpr int64_t kUidEmptyElement = -3;

// Customer id of the element named indexing_tag ("XACustId" when null or
// empty) in buf_ptr. The value must end on the same line; the line is cut at
// the "<" of the closing "</". A value is read like atol, except that a value
// that reads as negative or lies beyond the signed 64-bit range gives 0, so
// that no customer id is ever negative.
int64_t extract_uid(const LogGates &log, char *buf_ptr, const char *indexing_tag);

// Offset from xml and length of the value of the first element called name:
// the text after the name, its ">" and any "xmlns:" declarations, up to a
// blank, tab, "/" or "<". 0 when found, -1 otherwise.
int32_t get_xml_element_value(const LogGates &log, const char *xml, const char *name,
                              int32_t *offset, int32_t *length);

// Looks for a creationTimestamp value in one body line (buff, line_len bytes
// from its body start) of the record at *seq_no and records its place in that
// slot, relative to the first body byte (the slot's req_size already counts
// the line). Sets bit 0 of *req_mod_flag. 0 when recorded, -1 otherwise (no
// value, or one whose place does not fit the record's fields).
int32_t extract_creation_timestamp(const LogGates &log, char *buff, const uint64_t *seq_no,
                                   SeqData *l_seq_data_arr, int32_t line_len,
                                   int16_t *req_mod_flag);

// Service name made of the last two segments of URL's path, "/", "," and
// control bytes turned into "_"; a query ("?...") is left out. URL is
// restored before returning.
// service_name must hold name_size bytes; a name never exceeds strlen(URL).
void get_service_name_from_url(const LogGates &log, char *URL, char *service_name,
                               size_t name_size);

// The number at the start of text, read as strtod reads it. A plain run of
// at most 15 digits that ends the text or is followed by white space (every
// time part of a well-formed log) is read without strtod, to the same value.
double read_decimal(const char *text);

#endif  // VT_REPLAY_GEN_LOADER_FIELD_EXTRACT_H_

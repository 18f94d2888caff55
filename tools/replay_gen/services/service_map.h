// The service table: configured services, lookup, unique names, report.
#ifndef VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_
#define VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Services addressable through SeqData.service_id (ids 0 .. kMaxServices - 1).
constexpr int kMaxServices = 32767;
// Room every copy of a service name keeps for the suffix that renaming may
// add: "_" and up to 10 characters.
constexpr int kNameSuffixRoom = 11;

// Adds one configured service from the fields of a SERVICE_NAME line (num
// fields, field 0 being the keyword): name, method, URL, then optionally the
// indexing tag, the name prefix and extra header lines ("NA" = not given).
bool set_service(RunState &run, int num, char **field, Failure *err);
// Appends one header line, ended by CR LF, to the service's extra headers.
bool set_service_header(RunState &run, int service_row_num, const char *header_line, Failure *err);

// Index of the first service whose name and URL both equal the given ones,
// or -1. Only reads the table: loader threads call it side by side.
int get_service_idx(const RunState &run, const char *service, const char *url);

// Brings the hashed index of the table up to date with entries added without
// set_service or create_service_entry_and_fill_data. Main thread only, while
// no loader thread runs.
bool sync_service_index(RunState &run, Failure *err);

// Gives every service after the first of a name the suffix "_1", "_2", ...
// in index order.
bool rename_service_names(RunState &run, Failure *err);
// The service report on standard output.
void print_service_info(const RunState &run);

#endif  // VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

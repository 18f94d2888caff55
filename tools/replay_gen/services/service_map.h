// The service table: configured services, lookup, unique names, report.
#ifndef VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_
#define VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

// Services addressable through SeqData.service_id (ids 0 .. kMaxServices - 1).
constexpr int kMaxServices = 32767;
// Room every copy of a service name keeps for the suffix that renaming may
// add: "_" and up to 10 characters.
constexpr int kNameSuffixRoom = 11;

// Adds one configured service from the fields of a SERVICE_NAME line (num
// fields, field 0 being the keyword): name, method, URL, then optionally the
// indexing tag, the name prefix and extra header lines ("NA" = not given).
void set_service(int num, char **field);
// Appends one header line, ended by CR LF, to the service's extra headers.
void set_service_header(int service_row_num, const char *header_line);

// Index of the first service whose name and URL both equal the given ones,
// or -1.
int get_service_idx(const char *service, const char *url);

// Brings the hashed index of the table up to date with entries added without
// set_service or create_service_entry_and_fill_data. Main thread only, while
// no loader thread runs.
void sync_service_index();

// Orders two service indexes (ints) by their services' names.
int service_name_compare(const void *a, const void *b);

// Gives every service after the first of a name the suffix "_1", "_2", ...
// in index order.
void rename_service_names();
// The service report on standard output.
void print_service_info();

#endif  // VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

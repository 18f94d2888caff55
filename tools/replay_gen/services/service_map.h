// The service table: configured services, lookup, unique names, report.
#ifndef VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_
#define VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

// Index of the first service whose name and URL both equal the given ones,
// or -1.
int get_service_idx(const char *service, const char *url);

void rename_service_names();
void print_service_info();

#endif  // VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

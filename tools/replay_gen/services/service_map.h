// The service table: configured services, lookup, unique names, report.
#ifndef VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_
#define VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

void rename_service_names();
void print_service_info();

#endif  // VT_REPLAY_GEN_SERVICES_SERVICE_MAP_H_

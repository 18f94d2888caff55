#include "tools/replay_gen/services/service_map.h"

#include <string.h>

#include "tools/replay_gen/log.h"
#include "tools/replay_gen/records.h"

int get_service_idx(const char *service, const char *url) {
  if (debug_level)
    debug_log(4, "get_service_idx", "Method Called: service %s, total_services = %d", service,
              total_services);
  for (int i = 0; i < total_services; i++) {
    const ServiceMap &entry = service_map_ptr[i];
    if (strcmp(entry.service_name, service) == 0 && strcmp(entry.url, url) == 0) return i;
  }
  return -1;
}

void rename_service_names() {}

void print_service_info() {}

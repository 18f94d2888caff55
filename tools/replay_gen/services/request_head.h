// Request heads composed once per service: request line, Host line, the
// common HTTP headers, the service's own headers and its SOAP action line.
#ifndef VT_REPLAY_GEN_SERVICES_REQUEST_HEAD_H_
#define VT_REPLAY_GEN_SERVICES_REQUEST_HEAD_H_

#include <string>

#include "tools/replay_gen/failure.h"
#include "tools/replay_gen/run_state.h"

// Composes all_headers of every service and writes one script generator line
// per service. Releases every service_header and the common http_header.
bool append_all_headers(RunState &run, Failure *err);

// Writes the script generator line of one service, checks its URL and puts
// the request line and the Host line into *header, replacing what it held.
// A URL without a colon, with a scheme other than http or https, or without
// a "/" after the host fails the run.
bool make_method_and_host_header(const RunState &run, const char *method, const char *url,
                                 std::string *header, const char *service_name, Failure *err);

#endif  // VT_REPLAY_GEN_SERVICES_REQUEST_HEAD_H_

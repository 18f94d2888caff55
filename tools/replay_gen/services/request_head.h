// Request heads composed once per service.
#ifndef VT_REPLAY_GEN_SERVICES_REQUEST_HEAD_H_
#define VT_REPLAY_GEN_SERVICES_REQUEST_HEAD_H_

void append_all_headers();

#endif  // VT_REPLAY_GEN_SERVICES_REQUEST_HEAD_H_

// Where vt_replay sends: --target HOST:PORT, http://HOST[:PORT] or
// https://HOST[:PORT], resolved to one address, with the TLS context of an
// https:// target.
#ifndef VT_TOOLS_REPLAY_REPLAY_TARGET_H_
#define VT_TOOLS_REPLAY_REPLAY_TARGET_H_

#include <sys/socket.h>

#include <string>

#include "tools/replay/replay_tls.h"

enum class ReplayScheme { kPlain, kHttp, kHttps };

// --target as read from the command line.
struct ReplayTargetName {
  ReplayScheme scheme = ReplayScheme::kPlain;
  std::string host;  // without the brackets of an IPv6 address
  std::string port;  // 80 or 443 when the URL gives none
};

// Reads HOST:PORT (the port required) or SCHEME://HOST[:PORT][/]. A path,
// a query, user information or a scheme other than http and https are
// refused with *error saying so.
bool parse_replay_target(const std::string &text, ReplayTargetName *name, std::string *error);

// "https://host:443", "http://[::1]:80", "127.0.0.1:8080": the target as the
// report shows it.
std::string replay_target_text(const ReplayTargetName &name);

struct ReplayTarget {
  sockaddr_storage addr{};
  socklen_t addr_len = 0;
  std::string text;  // replay_target_text of the name
  ReplayTls tls;     // tls.ctx is nullptr for a plain target
};

// Resolves the host to its first address.
bool resolve_replay_target(const ReplayTargetName &name, ReplayTarget *t, std::string *error);

// One connection with the timeout, and the TLS handshake of an https://
// target, to tell an unreachable target or a refused certificate before
// anything is sent. The certificate's refusal names the checked name and the
// verifier's reason.
bool probe_replay_target(const ReplayTarget &t, int timeout_ms, std::string *error);

void release_replay_target(ReplayTarget *t);

#endif  // VT_TOOLS_REPLAY_REPLAY_TARGET_H_

#include "tools/replay/replay_target.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool fail(std::string *error, const std::string &text) {
  *error = text;
  return false;
}

bool read_port(const std::string &text, std::string *port) {
  if (text.empty() || text.size() > 5) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 65535) return false;
  *port = std::to_string(v);
  return true;
}

// "host", "host:port", "[v6]" or "[v6]:port"; `port_needed` for HOST:PORT.
bool read_authority(const std::string &text, bool port_needed, ReplayTargetName *name,
                    std::string *error) {
  std::string host, port_text;
  bool has_port = false;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return fail(error, "an IPv6 address without its closing ]");
    host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return fail(error, "unexpected text after the ]");
      has_port = true;
      port_text = rest.substr(1);
    }
  } else {
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
      if (text.find(':') != colon)
        return fail(error, "an IPv6 address goes in brackets: [::1]:8080");
      has_port = true;
      host = text.substr(0, colon);
      port_text = text.substr(colon + 1);
    } else {
      host = text;
    }
  }
  if (host.empty()) return fail(error, "no host");
  if (port_needed && !has_port)
    return fail(error, "expected HOST:PORT, http://HOST[:PORT] or https://HOST[:PORT]");
  if (has_port && !read_port(port_text, &name->port))
    return fail(error, "expected a port from 1 to 65535");
  name->host = host;
  return true;
}

int64_t mono_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until fd is ready for `events` or the deadline passes.
bool wait_for(int fd, short events, int64_t deadline_ms, int *err) {
  while (true) {
    int left = static_cast<int>(std::max<int64_t>(0, deadline_ms - mono_ms()));
    pollfd pfd{fd, events, 0};
    int n = poll(&pfd, 1, left);
    if (n > 0) return true;
    if (n < 0 && errno == EINTR) continue;
    *err = n == 0 ? ETIMEDOUT : errno;
    return false;
  }
}

// The TLS handshake on a connected socket, within the deadline.
bool tls_handshake(const ReplayTarget &t, SSL *ssl, int fd, int64_t deadline_ms,
                   std::string *error) {
  while (true) {
    errno = 0;
    int r = SSL_connect(ssl);
    if (r == 1) return true;
    int kind = SSL_get_error(ssl, r);
    int err = 0;
    if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
      if (wait_for(fd, kind == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline_ms, &err)) continue;
      return fail(error, "TLS handshake with " + t.text + ": " + strerror(err));
    }
    std::string reason = replay_tls_failure(ssl, r), advice = replay_tls_advice(ssl, reason);
    if (!advice.empty()) advice = " (" + advice + ")";
    if (replay_tls_verify_failed(ssl))
      return fail(error, "certificate of " + t.text + " refused for the name " + t.tls.name + ": " +
                             reason + advice);
    return fail(error, "TLS handshake with " + t.text + " failed: " + reason + advice);
  }
}

bool probe_tls(const ReplayTarget &t, int fd, int64_t deadline_ms, std::string *error) {
  SSL *ssl = new_replay_ssl(t.tls, fd);
  if (!ssl) return fail(error, "cannot make a TLS connection object");
  clear_replay_tls_errors();
  bool ok = tls_handshake(t, ssl, fd, deadline_ms, error);
  if (ok) SSL_shutdown(ssl);
  SSL_free(ssl);
  return ok;
}

}  // namespace

bool parse_replay_target(const std::string &text, ReplayTargetName *name, std::string *error) {
  *name = ReplayTargetName{};
  size_t sep = text.find("://");
  if (sep == std::string::npos) {
    if (text.find('/') != std::string::npos)
      return fail(error, "a target names no path; the requests keep their own");
    return read_authority(text, true, name, error);
  }
  std::string scheme = text.substr(0, sep);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(tolower(c)); });
  if (scheme == "http") {
    name->scheme = ReplayScheme::kHttp;
  } else if (scheme == "https") {
    name->scheme = ReplayScheme::kHttps;
  } else {
    return fail(error, "unknown scheme " + text.substr(0, sep) +
                           " (expected HOST:PORT, http://HOST[:PORT] or https://HOST[:PORT])");
  }
  std::string rest = text.substr(sep + 3);
  size_t end = rest.find_first_of("/?#");
  if (end != std::string::npos) {
    if (rest.substr(end) != "/")
      return fail(error,
                  "a target names no path (" + rest.substr(end) + "); the requests keep their own");
    rest.resize(end);
  }
  if (rest.find('@') != std::string::npos) return fail(error, "user information is not supported");
  if (!read_authority(rest, false, name, error)) return false;
  if (name->port.empty()) name->port = name->scheme == ReplayScheme::kHttps ? "443" : "80";
  return true;
}

std::string replay_target_text(const ReplayTargetName &name) {
  std::string host = name.host.find(':') != std::string::npos ? "[" + name.host + "]" : name.host;
  const char *scheme = name.scheme == ReplayScheme::kHttps  ? "https://"
                       : name.scheme == ReplayScheme::kHttp ? "http://"
                                                            : "";
  return scheme + host + ":" + name.port;
}

bool resolve_replay_target(const ReplayTargetName &name, ReplayTarget *t, std::string *error) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *res = nullptr;
  int rc = getaddrinfo(name.host.c_str(), name.port.c_str(), &hints, &res);
  if (rc != 0 || !res) return fail(error, "cannot resolve " + name.host + ": " + gai_strerror(rc));
  memcpy(&t->addr, res->ai_addr, res->ai_addrlen);
  t->addr_len = res->ai_addrlen;
  t->text = replay_target_text(name);
  freeaddrinfo(res);
  return true;
}

bool probe_replay_target(const ReplayTarget &t, int timeout_ms, std::string *error) {
  int fd = socket(t.addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(error, std::string("socket: ") + strerror(errno));
  int64_t deadline = mono_ms() + timeout_ms;
  int err = 0;
  if (connect(fd, reinterpret_cast<const sockaddr *>(&t.addr), t.addr_len) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      err = 0;
      socklen_t len = sizeof err;
      if (wait_for(fd, POLLOUT, deadline, &err) &&
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    }
  }
  bool ok = err == 0;
  if (!ok) *error = "cannot connect to " + t.text + ": " + strerror(err);
  if (ok && t.tls.ctx) ok = probe_tls(t, fd, deadline, error);
  close(fd);
  return ok;
}

void release_replay_target(ReplayTarget *t) {
  free_replay_tls(&t->tls);
}

// TLS of an https:// target, through OpenSSL: one client context for the
// whole replay, one SSL object per connection.
#ifndef VT_TOOLS_REPLAY_REPLAY_TLS_H_
#define VT_TOOLS_REPLAY_REPLAY_TLS_H_

#include <openssl/ssl.h>

#include <string>

struct ReplayTls {
  SSL_CTX *ctx = nullptr;  // nullptr for a plain target
  std::string name;        // sent as SNI (unless an IP address) and checked in the certificate
  bool name_is_ip = false;
  bool verify = true;  // false under --insecure
};

// Makes the client context: certificates checked against the system's store
// or only against `cacert` when given, none under `insecure`; client-side
// session caching, so that a reopened connection can resume its session.
bool make_replay_tls(const std::string &name, const std::string &cacert, bool insecure,
                     ReplayTls *tls, std::string *error);
void free_replay_tls(ReplayTls *tls);

// A client SSL on fd with SNI and the name check set, in connect state;
// nullptr when OpenSSL cannot make one.
SSL *new_replay_ssl(const ReplayTls &tls, int fd);

// Why the handshake of ssl failed (ret: what SSL_connect returned): the
// verifier's reason when it refused the certificate, OpenSSL's reason
// otherwise. Clears the thread's error queue.
std::string replay_tls_failure(SSL *ssl, int ret);

// The likely cause of a failed handshake, for its message, "" when there is
// none to tell: a certificate for another name (--sni NAME), one of another
// authority (--cacert, --insecure), a server that
// does not speak TLS.
std::string replay_tls_advice(SSL *ssl, const std::string &reason);

// True when the verifier refused the peer's certificate.
bool replay_tls_verify_failed(SSL *ssl);

// Empties the thread's OpenSSL error queue, so that the next failure is read
// alone.
void clear_replay_tls_errors();

#endif  // VT_TOOLS_REPLAY_REPLAY_TLS_H_

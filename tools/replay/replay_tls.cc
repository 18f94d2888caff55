#include "tools/replay/replay_tls.h"

#include <arpa/inet.h>
#include <errno.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <string.h>

#include "base/core/input_file.h"

namespace {

bool is_ip_address(const std::string &name) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, name.c_str(), buf) == 1 || inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

// OpenSSL's reason for the first error queued, or `fallback`.
std::string queued_reason(const char *fallback) {
  unsigned long e = ERR_get_error();
  std::string reason = fallback;
  if (e != 0) {
    const char *r = ERR_reason_error_string(e);
    reason = r ? r : ERR_error_string(e, nullptr);
  }
  ERR_clear_error();
  return reason;
}

// The certificates (and revocation lists) of a PEM file into the context's
// store. The file is read as every input is: a regular file only, so that a
// named pipe is refused rather than waited on.
bool load_certificates(SSL_CTX *ctx, const std::string &path, std::string *why) {
  std::string text;
  if (!vtlb_read_regular_file(path, &text, why)) return false;
  BIO *in = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
  STACK_OF(X509_INFO) *items = in ? PEM_X509_INFO_read_bio(in, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(in);
  X509_STORE *store = SSL_CTX_get_cert_store(ctx);
  int added = 0;
  for (int i = 0; items && i < sk_X509_INFO_num(items); i++) {
    X509_INFO *item = sk_X509_INFO_value(items, i);
    if (item->x509 && X509_STORE_add_cert(store, item->x509) == 1) added++;
    if (item->crl && X509_STORE_add_crl(store, item->crl) == 1) added++;
  }
  sk_X509_INFO_pop_free(items, X509_INFO_free);
  if (added > 0) {
    ERR_clear_error();
    return true;
  }
  ERR_clear_error();
  *why = "no certificate or crl found";
  return false;
}

}  // namespace

bool make_replay_tls(const std::string &name, const std::string &cacert, bool insecure,
                     ReplayTls *tls, std::string *error) {
  free_replay_tls(tls);
  tls->name = name;
  tls->name_is_ip = is_ip_address(name);
  tls->verify = !insecure;
  clear_replay_tls_errors();
  tls->ctx = SSL_CTX_new(TLS_client_method());
  if (!tls->ctx) {
    *error = "cannot make a TLS context: " + queued_reason("unknown reason");
    return false;
  }
  SSL_CTX_set_min_proto_version(tls->ctx, TLS1_2_VERSION);
  // Partial writes let a request go out record by record from a shared
  // buffer; idle connections give their read and write buffers back; a
  // server that closes without close_notify ends an answer read to the close.
  SSL_CTX_set_mode(tls->ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                 SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_options(tls->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_session_cache_mode(tls->ctx,
                                 SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  if (insecure) {
    SSL_CTX_set_verify(tls->ctx, SSL_VERIFY_NONE, nullptr);
    return true;
  }
  SSL_CTX_set_verify(tls->ctx, SSL_VERIFY_PEER, nullptr);
  if (!cacert.empty()) {
    std::string reason;
    if (!load_certificates(tls->ctx, cacert, &reason)) {
      *error = "cannot read --cacert " + cacert + ": " + reason;
      free_replay_tls(tls);
      return false;
    }
  } else if (SSL_CTX_set_default_verify_paths(tls->ctx) != 1) {
    *error = "cannot read the system's certificate store: " + queued_reason("unknown reason");
    free_replay_tls(tls);
    return false;
  }
  return true;
}

void free_replay_tls(ReplayTls *tls) {
  if (tls->ctx) SSL_CTX_free(tls->ctx);
  tls->ctx = nullptr;
}

SSL *new_replay_ssl(const ReplayTls &tls, int fd) {
  SSL *ssl = SSL_new(tls.ctx);
  if (!ssl) return nullptr;
  bool ok = SSL_set_fd(ssl, fd) == 1;
  // Server names go in SNI; an address does not (RFC 6066).
  if (ok && !tls.name_is_ip) ok = SSL_set_tlsext_host_name(ssl, tls.name.c_str()) == 1;
  if (ok && tls.verify) {
    if (tls.name_is_ip)
      ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), tls.name.c_str()) == 1;
    else
      ok = SSL_set1_host(ssl, tls.name.c_str()) == 1;
  }
  if (!ok) {
    SSL_free(ssl);
    return nullptr;
  }
  SSL_set_connect_state(ssl);
  return ssl;
}

bool replay_tls_verify_failed(SSL *ssl) {
  return SSL_get_verify_mode(ssl) != SSL_VERIFY_NONE && SSL_get_verify_result(ssl) != X509_V_OK;
}

std::string replay_tls_failure(SSL *ssl, int ret) {
  if (replay_tls_verify_failed(ssl)) {
    ERR_clear_error();
    return X509_verify_cert_error_string(SSL_get_verify_result(ssl));
  }
  int kind = SSL_get_error(ssl, ret);
  if (kind == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    ERR_clear_error();
    return errno != 0 && ret < 0 ? strerror(errno) : "the server closed the connection";
  }
  return queued_reason("handshake failed");
}

std::string replay_tls_advice(SSL *ssl, const std::string &reason) {
  if (!replay_tls_verify_failed(ssl)) {
    bool no_tls = reason.find("wrong version number") != std::string::npos ||
                  reason.find("packet length too long") != std::string::npos;
    return no_tls ? "the server does not speak TLS: an http:// target?" : "";
  }
  long result = SSL_get_verify_result(ssl);
  if (result != X509_V_ERR_HOSTNAME_MISMATCH && result != X509_V_ERR_IP_ADDRESS_MISMATCH)
    return "--cacert FILE trusts another authority; --insecure skips the check";
  return "--sni NAME checks the certificate for NAME";
}

void clear_replay_tls_errors() {
  ERR_clear_error();
}

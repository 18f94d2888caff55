// A scripted server on 127.0.0.1, plain or TLS, recording what arrives; vt_replay run.
#ifndef VT_TOOLS_REPLAY_REPLAY_TEST_SERVER_H_
#define VT_TOOLS_REPLAY_REPLAY_TEST_SERVER_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A socket listening on 127.0.0.1, on a free port (into *port).
inline int test_listener(int backlog, int *port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), len) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
    abort();
  *port = ntohs(a.sin_port);
  return fd;
}

inline int64_t test_now_ns() {  // CLOCK_MONOTONIC, as the engine's times
  return std::chrono::steady_clock::now().time_since_epoch().count();
}

// A self-signed certificate for localhost and 127.0.0.1; its PEM into `cert_path`.
struct TestCertificate {
  EVP_PKEY *key = nullptr;
  X509 *cert = nullptr;
  explicit TestCertificate(const std::string &cert_path) {
    key = EVP_EC_gen("P-256");
    cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    for (auto [nid, value] : {std::pair{NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"},
                              std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
      X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
      X509_add_ext(cert, ext, -1);
      X509_EXTENSION_free(ext);
    }
    X509_sign(cert, key, EVP_sha256());
    FILE *f = fopen(cert_path.c_str(), "w");
    if (!f || PEM_write_X509(f, cert) != 1 || fclose(f) != 0) abort();
  }
  ~TestCertificate() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

struct Received {
  int conn;
  int64_t at_ns;
  std::string request;  // head and body as read
};

// Answers each request as its body asks (answer()); each change it counts wakes wait_until.
struct ScriptedServer {
  int listen_fd = -1;
  int port = 0;
  std::string target;  // 127.0.0.1:port
  SSL_CTX *tls = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<int> connections{0};
  std::atomic<int> resumed{0};
  std::atomic<int> goodbyes{0};  // TLS connections the client ended with close_notify
  std::atomic<int> serving{0};   // connections whose thread has not yet let go of them
  std::atomic<unsigned> garbled_handshakes{0};  // bit i: connection i answers the hello with no TLS
  std::mutex m;
  std::condition_variable changed;
  std::vector<Received> got;
  std::vector<std::string> names;  // the name each TLS client sent (SNI), "" for none
  std::vector<std::thread> threads;

  explicit ScriptedServer(const TestCertificate *certificate = nullptr) {
    signal(SIGPIPE, SIG_IGN);  // a write to a client that closed first fails
    if (certificate) {
      tls = SSL_CTX_new(TLS_server_method());
      if (SSL_CTX_use_certificate(tls, certificate->cert) != 1 ||
          SSL_CTX_use_PrivateKey(tls, certificate->key) != 1)
        abort();
    }
    listen_fd = test_listener(128, &port);
    target = "127.0.0.1:" + std::to_string(port);
    threads.emplace_back([this] { accept_loop(); });
  }
  ~ScriptedServer() {
    stop = true;
    for (std::thread &t : threads) t.join();
    close(listen_fd);
    if (tls) SSL_CTX_free(tls);
  }

  // Waits until `done()` holds, woken by each change; false if it never held.
  template <class Done>
  bool wait_until(Done done, int max_ms = 20000) {
    std::unique_lock<std::mutex> lock(m);
    return changed.wait_for(lock, std::chrono::milliseconds(max_ms), done);
  }

  bool wait_readable(int fd, SSL *ssl = nullptr) {
    while (!stop) {
      if (ssl && SSL_pending(ssl) > 0) return true;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  void accept_loop() {
    std::vector<std::thread> mine;
    while (wait_readable(listen_fd)) {
      int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      int id = connections++;
      serving++;
      mine.emplace_back([this, fd, id] {
        serve(fd, id);
        std::lock_guard<std::mutex> lock(m);
        serving--;
        changed.notify_all();
      });
    }
    for (std::thread &t : mine) t.join();
  }

  void serve(int fd, int id) {
    SSL *ssl = nullptr;
    auto end = [&] {
      if (ssl) SSL_free(ssl);
      ERR_clear_error();
      close(fd);
    };
    if (tls && id < 32 && (garbled_handshakes >> id & 1)) {
      if (wait_readable(fd)) (void)!write(fd, "HTTP/1.1 400 No\r\n\r\n", 19);  // no TLS
      return end();
    }
    if (tls) {
      ssl = SSL_new(tls);
      SSL_set_fd(ssl, fd);
      if (!wait_readable(fd) || SSL_accept(ssl) != 1) return end();
      if (SSL_session_reused(ssl)) resumed++;
      const char *name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
      std::lock_guard<std::mutex> lock(m);
      names.push_back(name ? name : "");
    }
    std::string in;
    char buf[65536];
    while (true) {
      size_t head_end = in.find("\r\n\r\n");
      size_t need = std::string::npos;
      if (head_end != std::string::npos) {
        size_t cl = in.find("Content-Length: ");
        need = head_end + 4 + (cl < head_end ? std::stoul(in.substr(cl + 16, 20)) : 0);
      }
      if (need != std::string::npos && in.size() >= need) {
        std::string request = in.substr(0, need);
        in.erase(0, need);
        {
          std::lock_guard<std::mutex> lock(m);
          got.push_back({id, test_now_ns(), request});
          changed.notify_all();
        }
        if (!answer(fd, ssl, request)) break;
        continue;
      }
      if (!wait_readable(fd, ssl)) break;
      ssize_t n = ssl ? SSL_read(ssl, buf, sizeof buf) : read(fd, buf, sizeof buf);
      if (n <= 0 && ssl && SSL_get_error(ssl, static_cast<int>(n)) == SSL_ERROR_ZERO_RETURN)
        goodbyes++;
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
    }
    end();
  }

  // "reset", "drop", "garbage", "cut short", "silent", "chunked", "close", "trickle", "interim",
  // "slow" (300 ms), "status NNN", "unsized" (to the close or a reset); false: the connection ends
  bool answer(int fd, SSL *ssl, const std::string &request) {
    auto has = [&](const char *word) { return request.find(word) != std::string::npos; };
    auto say = [&](const std::string &text) {
      int n = ssl ? SSL_write(ssl, text.data(), static_cast<int>(text.size()))
                  : static_cast<int>(write(fd, text.data(), text.size()));
      return n == static_cast<int>(text.size());
    };
    auto reset = [&] {
      linger l{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      return false;
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    if (has("unsized")) {  // a body that runs to the close, or, told so, to a reset
      say("HTTP/1.1 200 OK\r\n\r\nsome body");
      if (has("then reset")) usleep(100000), reset();
      return false;
    }
    if (has("reset")) return reset();
    if (has("garbage")) return say("SOMETHING ELSE\r\n\r\n"), false;
    if (has("drop")) return false;  // closed without an answer
    if (has("cut short")) return say("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"), false;
    if (has("silent")) {
      char c;
      while (wait_readable(fd, ssl) && (ssl ? SSL_read(ssl, &c, 1) : read(fd, &c, 1)) > 0) {
      }
      return false;
    }
    if (has("chunked")) {
      say("HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nsome");
      usleep(20000);
      return say("\r\n5\r\nthing\r\n0\r\n\r\n");
    }
    size_t status_at = request.find("status ");
    if (status_at != std::string::npos)
      return say("HTTP/1.1 " + request.substr(status_at + 7, 3) +
                 " Said\r\nContent-Length: 0\r\n\r\n");
    if (request.rfind("HEAD ", 0) == 0) return say(ok.substr(0, ok.size() - 2));  // ok's head
    if (has("close")) return say(ok), false;
    if (has("interim"))
      return say("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" +
                 ok);
    if (has("trickle")) {  // five bytes one at a time, each its own TLS record; then the rest
      for (size_t i = 0; i < 5; i++, usleep(1000))
        if (!say(ok.substr(i, 1))) return false;
      return say(ok.substr(5));
    }
    if (has("slow")) usleep(300000);
    return say(ok);
  }

  std::vector<Received> received() {
    std::lock_guard<std::mutex> lock(m);
    return got;
  }
};

struct Outcome {
  int status;  // -1 for an end by a signal
  std::string out, err;
};

// vt_replay args, `during` meanwhile; under soft limit `soft` of `resource` (RLIMIT_FSIZE: EFBIG, a
// full disk); stderr on a terminal `columns` wide when given. Silent for 20 s: killed.
inline Outcome run_program(std::vector<std::string> args,
                           const std::function<void(pid_t)> &during = nullptr, int resource = -1,
                           rlim_t soft = 0, unsigned short columns = 0) {
  Outcome o{-1, "", ""};
  std::string program = VT_REPLAY_BINARY;
  std::vector<char *> argv{program.data()};
  for (std::string &arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return o;
  if (columns) {
    err_pipe[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (err_pipe[0] < 0 || grantpt(err_pipe[0]) != 0 || unlockpt(err_pipe[0]) != 0) return o;
    err_pipe[1] = open(ptsname(err_pipe[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct winsize ws = {};
    ws.ws_row = 24, ws.ws_col = columns;
    ioctl(err_pipe[1], TIOCSWINSZ, &ws);
  } else if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    return o;
  }
  pid_t pid = fork();
  if (pid == 0) {
    if (resource >= 0) {
      struct rlimit limit;
      getrlimit(resource, &limit);
      limit.rlim_cur = soft;
      setrlimit(resource, &limit);
      signal(SIGXFSZ, SIG_IGN);
      setenv("GCOV_PREFIX", "/dev/null", 1);  // coverage counters cut short would spoil later runs
    }
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::thread reader([&] {  // until both ends are gone (a terminal's with EIO)
    struct pollfd pfd[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *into[2] = {&o.out, &o.err};
    for (int open_pipes = 2; pid > 0 && open_pipes > 0;) {
      if (poll(pfd, 2, 20000) <= 0) {
        kill(pid, SIGKILL);
        break;
      }
      for (int i = 0; i < 2; i++) {
        if (pfd[i].fd < 0 || !pfd[i].revents) continue;
        char buf[4096];
        ssize_t n = read(pfd[i].fd, buf, sizeof buf);
        if (n > 0) {
          into[i]->append(buf, static_cast<size_t>(n));
        } else {
          pfd[i].fd = -1;
          open_pipes--;
        }
      }
    }
  });
  if (pid > 0 && during) during(pid);
  int status;
  if (pid > 0 && waitpid(pid, &status, 0) == pid)
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  reader.join();
  close(out_pipe[0]);
  close(err_pipe[0]);
  std::string kept;  // a coverage build's counters' own lines are no output of the program
  for (size_t at = 0, end; at < o.err.size(); at = end) {
    end = std::min(o.err.find('\n', at), o.err.size() - 1) + 1;
    std::string_view line(o.err.data() + at, end - at);
    if (!line.starts_with("profiling") && !line.starts_with("libgcov profiling")) kept.append(line);
  }
  o.err = kept;
  return o;
}

#endif  // VT_TOOLS_REPLAY_REPLAY_TEST_SERVER_H_

#include "tools/sink/sink_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <http_parser.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

const char *reason_of(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
  }
}

struct SinkConn {
  int fd = -1;
  http_parser parser;
  std::string out;          // answers not written yet
  bool close_after = false;  // the last answer ends the connection
};

struct Sink {
  const SinkOptions *o;
  SinkCounts *counts;
  int epoll_fd = -1;
  size_t next_status = 0;
  std::vector<std::unique_ptr<SinkConn>> conns;  // by descriptor
  http_parser_settings settings;
};

int64_t mono_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void answer(SinkConn *c, int status, bool head) {
  char buf[256];
  bool keep = !c->close_after;
  const char *connection = !keep ? "Connection: close\r\n"
                           : c->parser.http_minor == 0 ? "Connection: keep-alive\r\n"
                                                       : "";
  int n = snprintf(buf, sizeof buf,
                   "HTTP/1.1 %d %s\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n%s\r\n%s",
                   status, reason_of(status), connection, head ? "" : "ok\n");
  c->out.append(buf, static_cast<size_t>(n));
}

void close_conn(Sink *s, int fd) {
  close(fd);  // also leaves the epoll set
  s->conns[static_cast<size_t>(fd)].reset();
}

// Writes what is pending; a connection that fails, or is done, is closed.
void flush(Sink *s, SinkConn *c) {
  while (!c->out.empty()) {
    ssize_t n = send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      c->out.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    close_conn(s, c->fd);
    return;
  }
  epoll_event ev{};
  ev.events = c->out.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
  ev.data.fd = c->fd;
  epoll_ctl(s->epoll_fd, EPOLL_CTL_MOD, c->fd, &ev);
  if (c->out.empty() && c->close_after) close_conn(s, c->fd);
}

// Parses what came; every whole request is answered with the next status.
void on_data(Sink *s, SinkConn *c, const char *data, size_t len) {
  size_t at = 0;
  while (at < len && !c->close_after) {
    size_t used = http_parser_execute(&c->parser, &s->settings, data + at, len - at);
    at += used;
    enum http_errno err = HTTP_PARSER_ERRNO(&c->parser);
    if (err == HPE_PAUSED) {
      // One request ended: answer it, then go on with the rest.
      http_parser_pause(&c->parser, 0);
      c->close_after = !http_should_keep_alive(&c->parser);
      int status = s->o->statuses[s->next_status++ % s->o->statuses.size()];
      answer(c, status, c->parser.method == HTTP_HEAD);
      s->counts->requests++;
      s->counts->statuses[status]++;
    } else if (err != HPE_OK) {
      c->close_after = true;
      c->out += "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      s->counts->refused++;
    } else if (used == 0) {
      break;
    }
  }
}

int pause_at_end(http_parser *parser) {
  http_parser_pause(parser, 1);
  return 0;
}

void on_readable(Sink *s, int fd) {
  SinkConn *c = s->conns[static_cast<size_t>(fd)].get();
  char buf[65536];
  while (true) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      close_conn(s, fd);
      return;
    }
    s->counts->bytes += static_cast<uint64_t>(n);
    on_data(s, c, buf, static_cast<size_t>(n));
    if (c->close_after) break;
  }
  flush(s, c);
}

void accept_all(Sink *s, int listen_fd) {
  while (true) {
    int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN, or out of descriptors: the client waits in the backlog
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(s->epoll_fd, EPOLL_CTL_ADD, fd, &ev) != 0) {
      close(fd);
      continue;
    }
    if (s->conns.size() <= static_cast<size_t>(fd)) s->conns.resize(static_cast<size_t>(fd) + 1);
    auto c = std::make_unique<SinkConn>();
    c->fd = fd;
    http_parser_init(&c->parser, HTTP_REQUEST);
    s->conns[static_cast<size_t>(fd)] = std::move(c);
    s->counts->connections++;
  }
}

}  // namespace

int open_sink_listener(int port, int *bound, std::string *error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + strerror(errno);
    return -1;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), len) != 0 || listen(fd, 4096) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
    close(fd);
    return -1;
  }
  *bound = ntohs(a.sin_port);
  return fd;
}

bool run_sink(int listen_fd, const SinkOptions &o, int stop_fd, SinkCounts *counts,
              std::string *error) {
  Sink s;
  s.o = &o;
  s.counts = counts;
  http_parser_settings_init(&s.settings);
  s.settings.on_message_complete = pause_at_end;
  int64_t start = mono_ns();
  s.epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  int timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  itimerspec its{};
  its.it_value.tv_sec = static_cast<time_t>(o.seconds);
  its.it_value.tv_nsec = static_cast<long>((o.seconds - static_cast<double>(its.it_value.tv_sec)) * 1e9);
  if (its.it_value.tv_sec == 0 && its.it_value.tv_nsec == 0) its.it_value.tv_nsec = 1;
  bool ok = s.epoll_fd >= 0 && timer_fd >= 0 && timerfd_settime(timer_fd, 0, &its, nullptr) == 0;
  for (int fd : {listen_fd, timer_fd, stop_fd}) {
    if (!ok || fd < 0) continue;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    ok = epoll_ctl(s.epoll_fd, EPOLL_CTL_ADD, fd, &ev) == 0;
  }
  if (!ok) *error = std::string("epoll: ") + strerror(errno);
  bool running = ok;
  epoll_event events[64];
  while (running) {
    int n = epoll_wait(s.epoll_fd, events, 64, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::string("epoll_wait: ") + strerror(errno);
      ok = running = false;
      break;
    }
    for (int i = 0; i < n && running; i++) {
      int fd = events[i].data.fd;
      if (fd == listen_fd) {
        accept_all(&s, listen_fd);
      } else if (fd == timer_fd) {
        counts->stopped_by = "--seconds";
        running = false;
      } else if (fd == stop_fd) {
        running = false;
      } else if (static_cast<size_t>(fd) < s.conns.size() && s.conns[static_cast<size_t>(fd)]) {
        // An error or a hang-up shows in the read, which ends the connection.
        if (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP))
          on_readable(&s, fd);
        else
          flush(&s, s.conns[static_cast<size_t>(fd)].get());
      }
    }
  }
  for (auto &c : s.conns)
    if (c) close(c->fd);
  if (timer_fd >= 0) close(timer_fd);
  if (s.epoll_fd >= 0) close(s.epoll_fd);
  if (!ok) counts->stopped_by = "an error";
  counts->elapsed_s = static_cast<double>(mono_ns() - start) / 1e9;
  return ok;
}

void print_sink_summary(FILE *out, int port, const SinkCounts &c) {
  fprintf(out, "vt_sink: 127.0.0.1:%d answered %lu requests (", port,
          static_cast<unsigned long>(c.requests));
  bool first = true;
  for (const auto &[status, n] : c.statuses) {
    fprintf(out, "%s%d: %lu", first ? "" : ", ", status, static_cast<unsigned long>(n));
    first = false;
  }
  if (first) fprintf(out, "none");
  fprintf(out, ") on %lu connections, %lu bytes received, %lu refused; stopped by %s after %.1f s\n",
          static_cast<unsigned long>(c.connections), static_cast<unsigned long>(c.bytes),
          static_cast<unsigned long>(c.refused), c.stopped_by, c.elapsed_s);
}

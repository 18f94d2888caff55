#include "tools/replay/replay_engine.h"

#include <errno.h>
#include <fcntl.h>
#include <http_parser.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <string.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <queue>
#include <thread>

#include "base/figures/replay_results.h"
#include "tools/replay/replay_modes.h"
#include "tools/replay/replay_progress.h"
#include "tools/replay/replay_tls.h"

namespace {

constexpr uint32_t kNone = UINT32_MAX;
constexpr size_t kIndexBlocksBytes = 4 << 20;

int64_t mono_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

enum ConnState : uint8_t { kFree, kConnecting, kHandshaking, kSending, kWaiting, kIdle };

// One connection of a user, with the request it carries. What goes out is the
// request's stream: `head` (the rewritten head; empty when nothing is
// rewritten) followed by the request file's bytes from body_off.
struct Conn {
  int fd = -1;
  SSL *ssl = nullptr;  // https:// targets
  uint32_t user = kNone;
  uint32_t next_of_user = kNone;  // the user's connections form a list
  uint32_t generation = 0;        // per socket: tells a stale epoll event from a live one
  uint32_t watch = 0;             // per deadline: only the latest one of a connection counts
  ConnState state = kFree;
  bool reused = false;     // carried a request before this one
  bool sent = false;       // the request's first byte went out
  bool retried = false;    // this request was sent again after the kept connection closed
  bool got_bytes = false;  // some of the response arrived
  bool complete = false;
  bool head_request = false;   // a HEAD request's response has no body
  bool close_after = false;    // HTTP/1.0 request: the connection is not kept
  bool line_pending = false;   // the two above are read from the first TLS record
  uint32_t tls_retry_len = 0;  // a TLS write to repeat with the same bytes
  int64_t planned_ns = 0, send_ns = 0;
  int64_t handshake_start_ns = 0;
  ReplayGroup group;
  uint64_t body_off = 0;     // where the stream's file part starts in the request file
  uint64_t stream_len = 0;   // head.size() + the file part
  uint64_t stream_pos = 0;   // bytes of the stream sent
  uint64_t sent_before = 0;  // bytes sent by an earlier try of the request
  uint64_t bytes_in = 0;     // bytes of the answer read
  std::string head;
  http_parser parser;
};

// --rate: a request given its slot, not yet sent.
struct SlottedRequest {
  ReplayGroup group;
  int64_t planned_ns = 0;
};

// One user of the run: a package user in one pass and copy.
struct UserState {
  ReplayUser ref;
  uint32_t source = 0;  // the package user: position in ReplayPackage::users
  uint32_t copy = 0;
  uint64_t pass = 0;
  ReplayGroup next;
  int64_t next_key_ns = 0;  // its place in the run's schedule (replay_modes.h)
  int64_t next_planned_ns = 0;
  bool has_next = false;
  bool queued = false;
  uint16_t in_flight = 0;
  uint32_t conns = kNone;
  std::vector<SlottedRequest> slotted;  // --rate: in slot order; `next` is the one after
  SSL_SESSION *session = nullptr;  // the user's last TLS session, resumed on its next connection
  std::vector<char> block;         // index bytes read ahead, from block_pos in the index file
  uint64_t block_pos = 0;
};

struct Due {
  int64_t at;
  uint32_t user;
  bool operator>(const Due &o) const { return at > o.at || (at == o.at && user > o.user); }
};

// --rate: a user's next request by its place in the schedule; at the same
// place, the earlier pass first, then the package's order of users and copies.
struct Placed {
  int64_t key;
  uint64_t pass;
  uint32_t source, copy, user;
  bool operator>(const Placed &o) const {
    if (key != o.key) return key > o.key;
    if (pass != o.pass) return pass > o.pass;
    return source != o.source ? source > o.source : copy > o.copy;
  }
};

struct Deadline {
  int64_t at;
  uint32_t conn, watch;
};

// Totals of all threads, for the progress line.
struct SharedCounts {
  std::atomic<uint64_t> due{0}, sent{0}, completed{0}, failed{0};
  std::atomic<int64_t> in_flight{0}, lag_max{0};
};

// One thread's share of the users, with its own loop.
struct Engine {
  SharedCounts *shared = nullptr;
  const ReplayOptions *o;
  const ReplayPlan *plan;
  const ReplayRunContext *ctx;
  ReplayPackage *p;
  const ReplayTarget *t;
  ReplayStats *stats;
  std::string *error;
  int epoll_fd = -1, timer_fd = -1, stop_fd = -1;
  FILE *progress_out = nullptr;
  int64_t start_ns = 0, timeout_ns = 0, duration_end_ns = 0;
  std::deque<UserState> users;       // references stay put as users of later passes join
  std::vector<uint32_t> free_users;  // users that are done, for those of later passes
  std::vector<Conn> conns;
  std::vector<uint32_t> free_conns;
  std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due;
  // --rate: the users whose next request has no slot yet, by its place in
  // the schedule; this thread's slots are part, part + parts, ...
  std::priority_queue<Placed, std::vector<Placed>, std::greater<Placed>> order;
  uint64_t part = 0, parts = 1, slots = 0, slot_pass = 0;
  uint64_t passes_planned = 0;     // the passes of which a request was planned
  std::deque<Deadline> deadlines;  // every deadline is now + timeout: in time order
  uint64_t active_users = 0, in_flight = 0;
  bool stopping = false, failed = false;
  int64_t last_send_ns = -1;
  int64_t last_planned_ns = 0;   // the first request is planned at start_ns
  uint64_t last_planned_ms = 0;  // its package time
  std::string results;           // lines not yet written to the results file
  // progress
  int64_t next_progress_ns = 0;
  int64_t timer_at = -1;  // when the timer is set to fire
  uint64_t window_start_sent = 0;
  bool progress_shown = false;
  http_parser_settings settings;
  std::vector<char> read_buffer = std::vector<char>(65536);
  std::vector<char> head_buffer;                  // an entry's head, read to be rewritten
  std::vector<char> write_buffer;                 // one TLS record's worth of a request
  std::vector<ReplayRewriteTally> retried_tally;  // a resent request is not counted again
  std::vector<uint64_t> retried_path_tally;
  size_t index_block = 4096;       // the bytes of index file each user reads at a time
  std::vector<char> entry_buffer;  // the entry begin_send reads whole, when it fits
  std::string_view preread;        // what of it the request being begun sends from memory
};

// A new TLS session of the connection's user replaces the user's last one.
int keep_session(SSL *ssl, SSL_SESSION *session) {
  UserState *u = static_cast<UserState *>(SSL_get_app_data(ssl));
  if (!u) return 0;
  if (u->session) SSL_SESSION_free(u->session);
  u->session = session;
  return 1;
}

int on_headers_complete(http_parser *parser) {
  Conn *c = static_cast<Conn *>(parser->data);
  // A status has three digits, the first of them 1 to 9: "001" is no HTTP
  // answer, and a results file could not tell it from an error.
  if (parser->status_code < 100) return -1;
  // 1 tells the parser that no body follows (the answer to a HEAD request).
  return c->head_request && parser->status_code >= 200 ? 1 : 0;
}

int on_message_complete(http_parser *parser) {
  Conn *c = static_cast<Conn *>(parser->data);
  if (parser->status_code >= 100 && parser->status_code < 200 && parser->status_code != 101)
    return 0;  // an interim answer; the final one follows
  c->complete = true;
  http_parser_pause(parser, 1);
  return 0;
}

// A request ended, with an answer (status above 0) or an error of `kind`:
// its figures, and its line of the results file.
void end_request(Engine *e, const Conn &c, int status, ReplayErrorKind kind, int64_t now) {
  const UserState &u = e->users[c.user];
  ReplayOutcome o;
  o.planned_ns = c.planned_ns - e->start_ns;
  o.sent_ns = c.sent ? c.send_ns - e->start_ns : -1;
  o.ended_ns = now - e->start_ns;
  o.status = status;
  o.error_kind = kind;
  if (status > 0) {
    o.latency_ns = static_cast<uint64_t>(std::max<int64_t>(0, now - c.send_ns));
    o.ok = status_is_ok(e->o->ok_status, status);
  }
  o.bytes_out = c.sent ? c.sent_before + c.stream_pos : 0;
  o.bytes_in = c.bytes_in;
  o.page = c.group.page_id;
  o.worker = u.ref.worker;
  o.user = replay_run_user_id(*e->plan, u.ref.user_id, u.pass, u.copy);
  tally_outcome(e->stats, o);
  if (status == 0 || !o.ok) e->shared->failed.fetch_add(1, std::memory_order_relaxed);
  if (status > 0) e->shared->completed.fetch_add(1, std::memory_order_relaxed);
  if (e->ctx->results) {
    append_result_line(&e->results, e->ctx->results->format, o, e->p->workers[u.ref.worker].number);
    if (e->results.size() >= kResultsBufferBytes) flush_results(e->ctx->results, &e->results);
  }
}

bool rate_mode(const Engine *e) {
  return e->plan->mode.rate > 0;
}

void queue_user(Engine *e, uint32_t ui) {
  UserState &u = e->users[ui];
  bool rate = rate_mode(e);
  if (u.queued || (rate ? u.slotted.empty() : !u.has_next) ||
      u.in_flight >= e->o->connections_per_user || e->stopping)
    return;
  u.queued = true;
  e->due.push({rate ? u.slotted.front().planned_ns : u.next_planned_ns, ui});
}

// Reads the user's next group from its block of the index file, reading
// the next block when fewer bytes are left than its worker's longest group
// and one more (where a group must end). Each group is checked as the
// package reader checks one it reads again: one that no longer reads, is
// longer than any the check met or lies outside the request file means the
// index changed under the run.
bool read_group(Engine *e, UserState *u) {
  const ReplayWorker &wk = e->p->workers[u->ref.worker];
  size_t need = wk.longest_group + 1, at = static_cast<size_t>(u->ref.index_pos - u->block_pos);
  if (u->block.empty() || at > u->block.size() || u->block.size() - at < need) {
    u->block.resize(std::max(need, e->index_block));
    ssize_t got =
        pread(wk.index_fd, u->block.data(), u->block.size(), static_cast<off_t>(u->ref.index_pos));
    u->block.resize(got > 0 ? static_cast<size_t>(got) : 0);
    u->block_pos = u->ref.index_pos;
    at = 0;
  }
  std::string fault;
  size_t used = u->block.size() > at ? parse_index_group(u->block.data() + at, u->block.size() - at,
                                                         &u->next, &fault)
                                     : 0;
  if (used == 0 || used > wk.longest_group || u->next.offset > wk.req_size ||
      u->next.size > wk.req_size - u->next.offset) {
    *e->error =
        e->p->dir + "/vt_index_" + std::to_string(wk.number) + " changed while it was replayed";
    return false;
  }
  u->ref.index_pos += used;
  if (--u->ref.remaining == 0) std::vector<char>().swap(u->block);
  return true;
}

bool load_next(Engine *e, uint32_t ui);

// The user of the next pass, once every request of ui's pass went out (or
// was counted at a stop): a new user, on new connections.
bool begin_next_pass(Engine *e, uint32_t ui) {
  const UserState &done = e->users[ui];
  uint64_t loops = e->plan->mode.loops;
  if ((loops != 0 && done.pass + 1 >= loops) || e->p->users[done.source].remaining == 0)
    return true;
  uint32_t ni = static_cast<uint32_t>(e->users.size());
  if (!e->free_users.empty()) {
    ni = e->free_users.back();
    e->free_users.pop_back();
  } else {
    e->users.emplace_back();
  }
  UserState &u = e->users[ni];
  u = UserState{};
  u.source = done.source;
  u.copy = done.copy;
  u.pass = done.pass + 1;
  u.ref = e->p->users[u.source];
  e->active_users++;
  if (!load_next(e, ni)) return false;
  queue_user(e, ni);
  return true;
}

bool load_next(Engine *e, uint32_t ui) {
  UserState *u = &e->users[ui];
  u->has_next = false;
  if (u->ref.remaining == 0) return begin_next_pass(e, ui);
  if (!read_group(e, u)) return false;
  u->has_next = true;
  const ReplayUser &source = e->p->users[u->source];
  u->next_key_ns = replay_schedule_ns(*e->plan, u->pass, u->copy, u->next.time_ms - e->p->base_ms,
                                      source.last_ms - source.first_ms);
  if (rate_mode(e))
    e->order.push({u->next_key_ns, u->pass, u->source, u->copy, ui});
  else
    u->next_planned_ns = e->start_ns + replay_send_ns(*e->plan, u->next_key_ns);
  return true;
}

// --rate: when the next slot of this thread is due (INT64_MAX: none is left).
int64_t next_slot_at(const Engine *e) {
  if (e->order.empty()) return INT64_MAX;
  uint64_t pass = std::max(e->slot_pass, e->users[e->order.top().user].pass);
  return e->start_ns + replay_slot_ns(*e->plan, e->slots * e->parts + e->part, pass);
}

// --rate: the next request in the schedule's order takes the next slot;
// its user sends it then, or, still waiting for an answer, as soon as it
// can. The user's next request takes its place in the order at once: the
// slots follow the schedule whatever the answers do.
bool take_slot(Engine *e, uint32_t *ui) {
  *ui = e->order.top().user;
  UserState &u = e->users[*ui];
  u.slotted.push_back({u.next, next_slot_at(e)});
  e->slot_pass = std::max(e->slot_pass, u.pass);
  e->slots++;
  e->order.pop();
  return load_next(e, *ui);
}

// A request of the user is planned at planned_ns (sent or not).
void note_planned(Engine *e, const UserState &u, int64_t planned_ns, uint64_t time_ms) {
  tally_planned(e->stats, u.ref.worker, planned_ns - e->start_ns);
  e->last_planned_ns = std::max(e->last_planned_ns, planned_ns);
  e->last_planned_ms = std::max(e->last_planned_ms, time_ms);
  e->passes_planned = std::max(e->passes_planned, u.pass + 1);
}

// Ends the TLS state of c; a connection whose exchange is over says goodbye
// (close_notify) first. Every failure ends its connection here, so the
// errors it left on the thread's queue go too: a later call of another
// connection would take them for its own.
void end_tls(Conn *c) {
  if (c->ssl) {
    if (c->state == kIdle) SSL_shutdown(c->ssl);
    SSL_free(c->ssl);
    c->ssl = nullptr;
  }
  clear_replay_tls_errors();
}

void close_conn(Engine *e, uint32_t ci) {
  Conn &c = e->conns[ci];
  end_tls(&c);
  if (c.fd >= 0) close(c.fd);  // also leaves the epoll set
  c.fd = -1;
  c.generation++;
  c.watch++;
  UserState &u = e->users[c.user];
  uint32_t *link = &u.conns;
  while (*link != ci) link = &e->conns[*link].next_of_user;
  *link = c.next_of_user;
  c.state = kFree;
  c.user = kNone;
  c.next_of_user = kNone;
  e->free_conns.push_back(ci);
}

// A request of the user ended (answered or failed): the user may send again.
void request_ended(Engine *e, uint32_t ui) {
  UserState &u = e->users[ui];
  u.in_flight--;
  e->in_flight--;
  e->shared->in_flight.fetch_sub(1, std::memory_order_relaxed);
  if (u.has_next || !u.slotted.empty()) {
    queue_user(e, ui);
    return;
  }
  if (u.in_flight > 0) return;
  while (u.conns != kNone) close_conn(e, u.conns);  // the user is done
  if (u.session) SSL_SESSION_free(u.session);
  u.session = nullptr;
  e->active_users--;
  e->free_users.push_back(ui);
}

void fail_request(Engine *e, uint32_t ci, ReplayErrorKind kind) {
  uint32_t ui = e->conns[ci].user;
  end_request(e, e->conns[ci], 0, kind, mono_ns());
  close_conn(e, ci);
  request_ended(e, ui);
}

bool open_socket(Engine *e, uint32_t ci);
void try_send(Engine *e, uint32_t ci);
void connected(Engine *e, uint32_t ci, int64_t now);

void watch_deadline(Engine *e, uint32_t ci, int64_t now) {
  e->deadlines.push_back({now + e->timeout_ns, ci, ++e->conns[ci].watch});
}

// The request's stream: the entry as it is, or its head rewritten and the
// rest as it is. False when the entry has no head to rewrite.
bool prepare_stream(Engine *e, Conn *c, int req_fd, int worker_number) {
  uint64_t entry_len = c->group.size - 1;  // the final newline ends the entry, not the request
  c->stream_pos = 0;
  c->tls_retry_len = 0;
  if (e->o->headers.empty() && e->o->paths.empty()) {
    c->body_off = c->group.offset;
    c->stream_len = entry_len;
    return true;
  }
  std::vector<char> &buf = e->head_buffer;
  if (buf.empty()) buf.resize(65536);
  ssize_t got = pread(req_fd, buf.data(), std::min<uint64_t>(buf.size(), entry_len),
                      static_cast<off_t>(c->group.offset));
  size_t head_len = got > 0 ? request_head_length(buf.data(), static_cast<size_t>(got)) : 0;
  if (head_len == 0) {
    *e->error =
        "vt_req_" + std::to_string(worker_number) + " offset " + std::to_string(c->group.offset) +
        ": the entry's head does not end (empty line) within its first " +
        std::to_string(buf.size()) + " bytes; " +
        (e->o->headers.empty() ? "--rewrite-path needs" : "--host and --header need") + " it";
    return false;
  }
  ReplayRewriteTally *tally = c->retried ? e->retried_tally.data() : e->stats->rewrites.data();
  rewrite_request_head(std::string_view(buf.data(), head_len), e->o->headers, &c->head, tally);
  rewrite_request_path(&c->head, e->o->paths,
                       c->retried ? e->retried_path_tally.data() : e->stats->path_rewrites.data());
  c->body_off = c->group.offset + head_len;
  c->stream_len = c->head.size() + entry_len - head_len;
  return true;
}

// Whether the head (as far as it is given, up to its empty line) holds
// "Connection: keep-alive", in any case: an HTTP/1.0 request that keeps its
// connection, when the server agrees.
bool asks_keep_alive(std::string_view head) {
  head = head.substr(0, head.find("\r\n\r\n"));
  for (size_t at = head.find("\r\n"); at != std::string_view::npos;
       at = head.find("\r\n", at + 2)) {
    std::string_view line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
    if (line.size() < 11 || strncasecmp(line.data(), "connection:", 11) != 0) continue;
    std::string_view value = line.substr(11);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    if (value.size() >= 10 && strncasecmp(value.data(), "keep-alive", 10) == 0) return true;
  }
  return false;
}

// The request line says whether the connection is kept (HTTP/1.1, or 1.0
// asking for it) and whether the answer has a body (not for HEAD).
void note_request_line(Conn *c, std::string_view head) {
  std::string_view request_line = head.substr(0, head.find("\r\n"));
  c->head_request = request_line.substr(0, 5) == "HEAD ";
  c->close_after = request_line.size() >= 9 &&
                   request_line.substr(request_line.size() - 9) == " HTTP/1.0" &&
                   !asks_keep_alive(head);
}

// The first byte of the request goes out now.
void begin_send(Engine *e, uint32_t ci, int64_t now) {
  Conn &c = e->conns[ci];
  UserState &u = e->users[c.user];
  const ReplayWorker &wk = e->p->workers[u.ref.worker];
  c.state = kSending;
  c.got_bytes = c.complete = false;
  http_parser_init(&c.parser, HTTP_RESPONSE);
  if (!prepare_stream(e, &c, wk.req_fd, wk.number)) {
    e->failed = true;
    return;
  }
  if (!c.retried) {
    // The request line, from the rewritten head, from the first TLS record,
    // or read for itself.
    c.line_pending = false;
    if (!c.head.empty()) {
      note_request_line(&c, c.head);
    } else if (c.ssl) {
      c.line_pending = true;
    } else {
      // Read whole when it fits the buffer: a small entry goes out faster
      // from memory than through sendfile, and its line comes with it.
      std::vector<char> &buf = e->entry_buffer;
      if (buf.empty()) buf.resize(65536);
      ssize_t got = pread(wk.req_fd, buf.data(), std::min<uint64_t>(buf.size(), c.stream_len),
                          static_cast<off_t>(c.group.offset));
      e->preread = std::string_view(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
      note_request_line(&c, e->preread);
    }
    c.send_ns = now;
    c.sent = true;
    c.sent_before = 0;
    c.bytes_in = 0;
    int64_t lag = std::max<int64_t>(0, now - c.planned_ns);
    int64_t seen = e->shared->lag_max.load(std::memory_order_relaxed);
    while (lag > seen && !e->shared->lag_max.compare_exchange_weak(seen, lag)) {
    }
    e->shared->sent.fetch_add(1, std::memory_order_relaxed);
    e->last_send_ns = now;
  }
  watch_deadline(e, ci, now);
  try_send(e, ci);
  e->preread = {};
}

// Copies len bytes of c's stream from stream_pos into buf; false when the
// request file ended early (it changed).
bool fill_from_stream(const Conn &c, int req_fd, char *buf, size_t len) {
  size_t at = 0;
  if (c.stream_pos < c.head.size()) {
    at = std::min<size_t>(len, c.head.size() - c.stream_pos);
    memcpy(buf, c.head.data() + c.stream_pos, at);
  }
  while (at < len) {
    uint64_t file_pos = c.body_off + (c.stream_pos + at - c.head.size());
    ssize_t n = pread(req_fd, buf + at, len - at, static_cast<off_t>(file_pos));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

// How sending on went: on (done, or waiting for the socket), the peer went
// away, or the request file ended early (it changed under the run).
enum SendState { kSendOn, kSendPeerGone, kSendFileShort };

// Sends on over TLS, a record at a time from the shared write buffer; a
// write that must be repeated is repeated with the same bytes, read again.
SendState send_tls(Engine *e, Conn &c, int req_fd) {
  std::vector<char> &buf = e->write_buffer;
  if (buf.empty()) buf.resize(16384);
  while (c.stream_pos < c.stream_len) {
    size_t len =
        c.tls_retry_len
            ? c.tls_retry_len
            : static_cast<size_t>(std::min<uint64_t>(buf.size(), c.stream_len - c.stream_pos));
    if (!fill_from_stream(c, req_fd, buf.data(), len)) return kSendFileShort;
    if (c.line_pending) {
      note_request_line(&c, std::string_view(buf.data(), len));
      c.line_pending = false;
    }
    int n = SSL_write(c.ssl, buf.data(), static_cast<int>(len));
    if (n > 0) {
      c.stream_pos += static_cast<uint64_t>(n);
      c.tls_retry_len = 0;
      continue;
    }
    int kind = SSL_get_error(c.ssl, n);
    if (kind == SSL_ERROR_WANT_WRITE || kind == SSL_ERROR_WANT_READ) {
      c.tls_retry_len = static_cast<uint32_t>(len);
      return kSendOn;  // the next event continues
    }
    return kSendPeerGone;  // the connection ends, and its errors with it
  }
  return kSendOn;
}

// Sends on over plain TCP: the rewritten head, then the file part: first
// what `preread` holds of it (read with the request line), then straight
// from the request file.
SendState send_plain(Conn &c, int req_fd, std::string_view preread) {
  while (c.stream_pos < c.stream_len) {
    ssize_t n;
    bool from_file = c.stream_pos >= c.head.size();
    uint64_t file_part = c.stream_pos - (from_file ? c.head.size() : c.stream_pos);
    if (!from_file) {
      int more = c.stream_len > c.head.size() ? MSG_MORE : 0;
      n = send(c.fd, c.head.data() + c.stream_pos, c.head.size() - c.stream_pos,
               MSG_NOSIGNAL | more);
    } else if (file_part < preread.size()) {
      int more = c.stream_len - c.stream_pos > preread.size() - file_part ? MSG_MORE : 0;
      n = send(c.fd, preread.data() + file_part, preread.size() - file_part, MSG_NOSIGNAL | more);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return kSendPeerGone;
    } else {
      off_t off = static_cast<off_t>(c.body_off + (c.stream_pos - c.head.size()));
      n = sendfile(c.fd, req_fd, &off, c.stream_len - c.stream_pos);
    }
    if (n > 0) {
      c.stream_pos += static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return kSendOn;  // EPOLLOUT continues
    // sendfile gives 0 at the end of the file; an error of its own reading
    // (EIO) is the file's too.
    if (from_file && (n == 0 || errno == EIO)) return kSendFileShort;
    return kSendPeerGone;
  }
  return kSendOn;
}

bool retry(Engine *e, uint32_t ci);

void try_send(Engine *e, uint32_t ci) {
  Conn &c = e->conns[ci];
  int req_fd = e->p->workers[e->users[c.user].ref.worker].req_fd;
  SendState state = c.ssl ? send_tls(e, c, req_fd) : send_plain(c, req_fd, e->preread);
  if (state == kSendFileShort) {
    fail_request(e, ci, kErrorReset);
    return;
  }
  if (state == kSendPeerGone) {
    if (!retry(e, ci)) fail_request(e, ci, c.got_bytes ? kErrorReset : kErrorClosed);
    return;
  }
  if (c.stream_pos == c.stream_len) c.state = kWaiting;
}

// Goes on with the TLS handshake of ci; the request follows once it is done.
void continue_handshake(Engine *e, uint32_t ci, int64_t now) {
  Conn &c = e->conns[ci];
  int r = SSL_do_handshake(c.ssl);
  if (r == 1) {
    ReplayTlsStats &tls = e->stats->tls;
    tls.handshakes++;
    if (SSL_session_reused(c.ssl)) tls.resumed++;
    // Read from the clock: over a short round trip the handshake can end
    // within the call that began it, at the same `now`.
    histogram_add(&tls.handshake_ns,
                  static_cast<uint64_t>(std::max<int64_t>(0, mono_ns() - c.handshake_start_ns)));
    begin_send(e, ci, now);
    return;
  }
  int kind = SSL_get_error(c.ssl, r);
  if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) return;
  if (e->stats->tls.first_failure.empty()) {
    std::string why = replay_tls_failure(c.ssl, r), advice = replay_tls_advice(c.ssl, why);
    if (!advice.empty()) why += " (" + advice + ")";
    e->stats->tls.first_failure =
        replay_tls_verify_failed(c.ssl)
            ? "certificate refused for the name " + e->t->tls.name + ": " + why
            : why;
  }
  fail_request(e, ci, kErrorTls);
}

// The connection of ci is open: a TLS handshake first, or the request.
void connected(Engine *e, uint32_t ci, int64_t now) {
  Conn &c = e->conns[ci];
  if (!e->t->tls.ctx) {
    begin_send(e, ci, now);
    return;
  }
  c.ssl = new_replay_ssl(e->t->tls, c.fd);
  if (!c.ssl) {
    fail_request(e, ci, kErrorTls);
    return;
  }
  UserState &u = e->users[c.user];
  SSL_set_app_data(c.ssl, &u);
  if (u.session) SSL_set_session(c.ssl, u.session);
  c.state = kHandshaking;
  c.handshake_start_ns = now;
  watch_deadline(e, ci, now);  // the handshake's own deadline
  continue_handshake(e, ci, now);
}

// Sends the user's next request on a kept connection or a new one.
void dispatch(Engine *e, uint32_t ui, int64_t now) {
  UserState &u = e->users[ui];
  u.queued = false;
  uint32_t ci = u.conns;
  while (ci != kNone && e->conns[ci].state != kIdle) ci = e->conns[ci].next_of_user;
  bool fresh = ci == kNone;
  if (fresh) {
    if (e->free_conns.empty()) {
      e->conns.emplace_back();
      e->free_conns.push_back(static_cast<uint32_t>(e->conns.size() - 1));
    }
    ci = e->free_conns.back();
    e->free_conns.pop_back();
    Conn &c = e->conns[ci];
    c.user = ui;
    c.next_of_user = u.conns;
    c.reused = false;
    u.conns = ci;
  }
  Conn &c = e->conns[ci];
  bool rate = rate_mode(e);
  c.group = rate ? u.slotted.front().group : u.next;
  c.planned_ns = rate ? u.slotted.front().planned_ns : u.next_planned_ns;
  if (rate) u.slotted.erase(u.slotted.begin());
  c.retried = false;
  c.sent = false;
  c.bytes_in = 0;
  if (!fresh) c.reused = true;
  note_planned(e, u, c.planned_ns, c.group.time_ms);
  e->shared->due.fetch_add(1, std::memory_order_relaxed);
  u.in_flight++;
  e->in_flight++;
  e->shared->in_flight.fetch_add(1, std::memory_order_relaxed);
  e->stats->max_in_flight = std::max(e->stats->max_in_flight, e->in_flight);
  if (!rate && !load_next(e, ui)) {
    e->failed = true;
    return;
  }
  queue_user(e, ui);
  if (!fresh) {
    begin_send(e, ci, now);
    return;
  }
  if (open_socket(e, ci)) connected(e, ci, mono_ns());
}

// Opens the connection of ci; true when it is already connected.
bool open_socket(Engine *e, uint32_t ci) {
  Conn &c = e->conns[ci];
  c.state = kConnecting;
  c.fd = socket(e->t->addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (c.fd < 0) {
    fail_request(e, ci, kErrorConnect);
    return false;
  }
  int one = 1;
  setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
  ev.data.u64 = (static_cast<uint64_t>(c.generation) << 32) | ci;
  if (epoll_ctl(e->epoll_fd, EPOLL_CTL_ADD, c.fd, &ev) != 0) {
    fail_request(e, ci, kErrorConnect);
    return false;
  }
  if (connect(c.fd, reinterpret_cast<const sockaddr *>(&e->t->addr), e->t->addr_len) == 0)
    return true;
  if (errno != EINPROGRESS) {
    fail_request(e, ci, kErrorConnect);
    return false;
  }
  watch_deadline(e, ci, mono_ns());  // the connect's own deadline
  return false;
}

// The kept connection closed under a request that got no answer: the
// request goes out once more on a new connection when it had not gone out
// whole (the server cannot have taken it), or, with --retry-closed, even
// when it had. A request sent whole may have been taken: a POST sent twice
// is not the same as once, and a resend would hide that the server dropped
// it.
bool retry(Engine *e, uint32_t ci) {
  Conn &c = e->conns[ci];
  if (!c.reused || c.retried || c.got_bytes || e->stopping) return false;
  if (c.stream_pos == c.stream_len && !e->o->retry_closed) return false;
  end_tls(&c);
  close(c.fd);
  c.fd = -1;
  c.generation++;
  c.reused = false;
  c.retried = true;
  c.sent_before += c.stream_pos;
  e->stats->retries++;
  // The connect, the handshake and the resent request each get the timeout anew.
  if (open_socket(e, ci)) connected(e, ci, mono_ns());
  return true;
}

void finish_request(Engine *e, uint32_t ci, int64_t now) {
  Conn &c = e->conns[ci];
  uint32_t ui = c.user;
  int code = static_cast<int>(c.parser.status_code);
  end_request(e, c, code > 0 ? code : 0, kErrorParse, now);
  // An answer that came before the whole request went out leaves the
  // connection in the middle of a request: it is not kept.
  bool whole = c.stream_pos == c.stream_len;
  bool keep = !c.close_after && whole && http_should_keep_alive(&c.parser);
  if (whole) c.state = kIdle;  // the exchange is over: a TLS connection says goodbye
  // A kept connection's deadline lapses by itself: expire() passes over an
  // idle one, and its next request sets a new one.
  if (!keep) close_conn(e, ci);
  request_ended(e, ui);
}

// Reads from c like read(2): bytes, 0 at the end, or -1 with errno (EAGAIN
// when nothing more can be read now, also over TLS when only a handshake
// message such as a session ticket came).
ssize_t conn_read(Conn &c, char *buf, size_t len) {
  if (!c.ssl) return read(c.fd, buf, len);
  errno = 0;
  int n = SSL_read(c.ssl, buf, static_cast<int>(std::min<size_t>(len, INT32_MAX)));
  if (n > 0) return n;
  int kind = SSL_get_error(c.ssl, n);
  if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
    errno = EAGAIN;
    return -1;
  }
  if (kind == SSL_ERROR_ZERO_RETURN || (kind == SSL_ERROR_SYSCALL && errno == 0)) return 0;
  if (errno == 0 || errno == EAGAIN || errno == EINTR) errno = ECONNRESET;
  return -1;
}

// `closing`: the event said the peer closed its side.
void on_readable(Engine *e, uint32_t ci, int64_t now, bool closing) {
  char *buf = e->read_buffer.data();
  Conn &c = e->conns[ci];
  while (c.state != kFree) {
    ssize_t n = conn_read(c, buf, e->read_buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (c.state == kIdle) {  // a kept connection the server closed (or wrote to)
      close_conn(e, ci);
      return;
    }
    if (n > 0) {
      c.got_bytes = true;
      c.bytes_in += static_cast<uint64_t>(n);
      c.parser.data = &c;  // the connection records may have moved since the last read
      size_t used = http_parser_execute(&c.parser, &e->settings, buf, static_cast<size_t>(n));
      (void)used;
      if (c.complete) {
        finish_request(e, ci, now);
        if (closing) continue;  // the close that came with the answer ends the kept connection
        return;
      }
      if (HTTP_PARSER_ERRNO(&c.parser) != HPE_OK) {
        fail_request(e, ci, kErrorParse);
        return;
      }
      continue;
    }
    // End of the stream (or a reset): an answer read to the close is whole.
    if (n == 0 && c.got_bytes) {
      c.parser.data = &c;
      http_parser_execute(&c.parser, &e->settings, nullptr, 0);
      if (c.complete) {
        finish_request(e, ci, now);
        return;
      }
    }
    if (retry(e, ci)) return;
    fail_request(e, ci, c.got_bytes ? kErrorReset : kErrorClosed);
    return;
  }
}

void on_event(Engine *e, const epoll_event &ev, int64_t now) {
  uint32_t ci = static_cast<uint32_t>(ev.data.u64);
  uint32_t generation = static_cast<uint32_t>(ev.data.u64 >> 32);
  if (ci >= e->conns.size() || e->conns[ci].generation != generation) return;
  Conn &c = e->conns[ci];
  if (c.state == kConnecting) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      fail_request(e, ci, kErrorConnect);
      return;
    }
    if (ev.events & EPOLLOUT) connected(e, ci, now);
    return;
  }
  if (c.state == kHandshaking) {
    continue_handshake(e, ci, now);
    return;
  }
  // A TLS write may wait for the socket to be readable as well as writable.
  if (c.state == kSending && ((ev.events & EPOLLOUT) || c.ssl)) try_send(e, ci);
  if (c.state != kFree && c.generation == generation &&
      (ev.events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
    on_readable(e, ci, now, (ev.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0);
}

void expire(Engine *e, int64_t now) {
  while (!e->deadlines.empty() && e->deadlines.front().at <= now) {
    Deadline d = e->deadlines.front();
    e->deadlines.pop_front();
    Conn &c = e->conns[d.conn];
    if (c.watch != d.watch || c.state == kFree || c.state == kIdle) continue;
    ReplayErrorKind kind = c.state == kHandshaking                ? kErrorTls
                           : c.state == kConnecting && !c.retried ? kErrorConnect
                                                                  : kErrorTimeout;
    if (kind == kErrorTls && e->stats->tls.first_failure.empty())
      e->stats->tls.first_failure = "no handshake within --timeout";
    fail_request(e, d.conn, kind);
  }
}

void show_progress(Engine *e, int64_t now) {
  if (!e->progress_out || now < e->next_progress_ns) return;
  double window = 1.0 + static_cast<double>(now - e->next_progress_ns) / 1e9;
  uint64_t sent = e->shared->sent.load();
  int64_t lag_max = e->shared->lag_max.exchange(0);
  if (e->next_progress_ns > 0) {
    ReplayProgress pr;
    pr.elapsed_s = static_cast<double>(now - e->start_ns) / 1e9;
    const ReplayMode &m = e->plan->mode;
    pr.planned_s = e->plan->span_s;
    pr.due = e->shared->due.load();
    pr.total = e->plan->requests * e->plan->passes;
    if (m.ramp) pr.speed = replay_speed_at(*e->plan, pr.elapsed_s);
    // The capture's clock of a run that plays each request once, in its pace.
    if (e->ctx->capture_start_ms >= 0 && m.loops == 1 && m.copies == 1 && m.rate <= 0)
      pr.capture_ms =
          e->ctx->capture_start_ms + static_cast<int64_t>(e->p->base_ms) +
          static_cast<int64_t>(replay_schedule_at(*e->plan, std::max(0.0, pr.elapsed_s)) * 1e3);
    pr.sent = sent;
    pr.done = e->shared->completed.load();
    int64_t in_flight = e->shared->in_flight.load();
    pr.in_flight = in_flight > 0 ? static_cast<uint64_t>(in_flight) : 0;
    pr.failed = e->shared->failed.load();
    pr.rate = static_cast<double>(sent - e->window_start_sent) / window;
    pr.lag_max_ms = static_cast<double>(lag_max) / 1e6;
    fprintf(e->progress_out, "\r%s\033[K",
            format_replay_progress(pr, e->ctx->progress_width).c_str());
    fflush(e->progress_out);
    e->progress_shown = true;
  }
  e->window_start_sent = sent;
  e->next_progress_ns = now + 1000000000;
}

void begin_stop(Engine *e, const char *why) {
  e->stopping = true;
  e->stats->stopped_by = why;
  while (!e->due.empty()) {
    e->users[e->due.top().user].queued = false;
    e->due.pop();
  }
  // Connections still opening carry requests that were due but never sent,
  // or, when they reopen a kept connection, sent once and closed unanswered.
  for (uint32_t ci = 0; ci < e->conns.size(); ci++) {
    Conn &c = e->conns[ci];
    if (c.state != kConnecting && c.state != kHandshaking) continue;
    if (c.retried) {
      fail_request(e, ci, kErrorClosed);
      continue;
    }
    uint32_t ui = c.user;
    close_conn(e, ci);
    request_ended(e, ui);
  }
}

bool arm_timer(Engine *e, int64_t at) {
  if (at == e->timer_at) return true;
  e->timer_at = at;
  itimerspec its{};
  if (at <= 0) at = 1;
  its.it_value.tv_sec = at / 1000000000;
  its.it_value.tv_nsec = at % 1000000000;
  return timerfd_settime(e->timer_fd, TFD_TIMER_ABSTIME, &its, nullptr) == 0;
}

// Requests planned before the stop that were not sent: read on from each
// user's place in its index file.
// (Users of later passes join the list as it is read.) Under --rate, the
// slots up to the stop go on being given in the schedule's order.
bool count_unsent_due(Engine *e, int64_t stop_ns) {
  bool rate = rate_mode(e);
  for (uint32_t ui = 0; ui < e->users.size(); ui++) {
    UserState &u = e->users[ui];
    for (const SlottedRequest &r : u.slotted)
      if (r.planned_ns <= stop_ns) note_planned(e, u, r.planned_ns, r.group.time_ms);
    while (!rate && u.has_next && u.next_planned_ns <= stop_ns) {
      note_planned(e, u, u.next_planned_ns, u.next.time_ms);
      if (!load_next(e, ui)) return false;
    }
  }
  uint32_t ui;
  while (rate && next_slot_at(e) <= stop_ns) {
    if (!take_slot(e, &ui)) return false;
    const SlottedRequest &r = e->users[ui].slotted.back();
    note_planned(e, e->users[ui], r.planned_ns, r.group.time_ms);
  }
  return true;
}

// Sends every request that is due; returns the time after.
// Under --rate the requests due go first: each was planned before the next
// slot.
int64_t dispatch_due(Engine *e, int64_t now) {
  bool rate = rate_mode(e);
  while (!e->stopping && !e->failed) {
    if (!e->due.empty() && e->due.top().at <= now) {
      uint32_t ui = e->due.top().user;
      e->due.pop();
      dispatch(e, ui, now);
      now = mono_ns();
    } else if (rate && next_slot_at(e) <= now) {
      uint32_t ui;
      e->failed = !take_slot(e, &ui);
      queue_user(e, ui);
    } else {
      break;
    }
  }
  return now;
}

bool run_loop(Engine *e) {
  epoll_event events[64];
  if (e->o->duration_s > 0)
    e->duration_end_ns = e->start_ns + static_cast<int64_t>(e->o->duration_s * 1e9);
  uint32_t first_pass = static_cast<uint32_t>(e->users.size());
  e->active_users = first_pass;
  for (uint32_t ui = 0; ui < first_pass; ui++) {
    if (!load_next(e, ui)) return false;
    queue_user(e, ui);
  }
  int64_t stop_ns = 0;
  while (true) {
    int64_t now = mono_ns();
    if (!e->stopping) {
      if (e->duration_end_ns > 0 && now >= e->duration_end_ns) {
        begin_stop(e, "duration");
        stop_ns = e->duration_end_ns;
      }
    }
    now = dispatch_due(e, now);
    if (e->failed) return false;
    expire(e, now);
    show_progress(e, now);
    if (e->active_users == 0 || (e->stopping && e->in_flight == 0)) break;
    int64_t wake = INT64_MAX;
    if (!e->due.empty()) wake = e->due.top().at;
    if (!e->stopping && rate_mode(e)) wake = std::min(wake, next_slot_at(e));
    if (!e->deadlines.empty()) wake = std::min(wake, e->deadlines.front().at);
    if (e->progress_out) wake = std::min(wake, e->next_progress_ns);
    if (e->duration_end_ns > 0 && !e->stopping) wake = std::min(wake, e->duration_end_ns);
    if (wake != INT64_MAX && !arm_timer(e, wake)) {
      *e->error = std::string("timer: ") + strerror(errno);
      return false;
    }
    int n = epoll_wait(e->epoll_fd, events, 64, 1000);
    if (n < 0 && errno != EINTR) {
      *e->error = std::string("epoll_wait: ") + strerror(errno);
      return false;
    }
    now = mono_ns();
    for (int i = 0; i < n; i++) {
      if (events[i].data.u64 == UINT64_MAX - 1) {  // the timer
        uint64_t ticks;
        if (read(e->timer_fd, &ticks, sizeof ticks) > 0) e->timer_at = -1;
      } else if (events[i].data.u64 == UINT64_MAX) {  // asked to stop
        if (!e->stopping) {
          begin_stop(e, "interrupt");
          stop_ns = mono_ns();
        }
        epoll_ctl(e->epoll_fd, EPOLL_CTL_DEL, e->stop_fd, nullptr);
      } else {
        on_event(e, events[i], now);
      }
      // A long batch of answers does not hold back the requests due meanwhile.
      if (i % 16 == 15) dispatch_due(e, mono_ns());
      if (e->failed) return false;
    }
  }
  if (e->stopping && !count_unsent_due(e, stop_ns)) return false;
  return true;
}

}  // namespace

size_t replay_bytes_per_connection() {
  return sizeof(Conn);
}

namespace {

// Runs one engine's loop; its results stay in its stats.
bool run_engine(Engine *e) {
  e->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  e->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  bool ok = e->epoll_fd >= 0 && e->timer_fd >= 0;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = UINT64_MAX - 1;
  ok = ok && epoll_ctl(e->epoll_fd, EPOLL_CTL_ADD, e->timer_fd, &ev) == 0;
  if (ok && e->stop_fd >= 0) {
    ev.data.u64 = UINT64_MAX;
    ok = epoll_ctl(e->epoll_fd, EPOLL_CTL_ADD, e->stop_fd, &ev) == 0;
  }
  if (!ok) {
    *e->error = std::string("epoll: ") + strerror(errno);
  } else {
    ok = run_loop(e);
  }
  for (Conn &c : e->conns) {
    if (c.ssl) SSL_free(c.ssl);
    if (c.fd >= 0) close(c.fd);
    c.ssl = nullptr;
    c.fd = -1;
  }
  for (UserState &u : e->users) {
    if (u.session) SSL_SESSION_free(u.session);
    u.session = nullptr;
  }
  if (e->timer_fd >= 0) close(e->timer_fd);
  if (e->epoll_fd >= 0) close(e->epoll_fd);
  if (e->ctx->results) flush_results(e->ctx->results, &e->results);
  return ok;
}

}  // namespace

bool run_replay(const ReplayOptions &o, ReplayPackage *p, const ReplayTarget &t,
                const ReplayRunContext &ctx, ReplayStats *stats, std::string *error) {
  *stats = ReplayStats{};
  stats->bytes_per_in_flight = replay_bytes_per_connection();
  ReplayPlan plan;
  if (!make_replay_plan(o.mode, o.speed, o.duration_s, *p, &plan, error)) return false;
  uint64_t span_ms =
      replay_mode_given(o.mode)
          ? static_cast<uint64_t>(plan.span_s * 1000)
          : static_cast<uint64_t>(static_cast<double>(p->last_time_ms - p->base_ms) / o.speed);
  if (o.duration_s > 0) span_ms = std::min(span_ms, static_cast<uint64_t>(o.duration_s * 1000));
  timeline_begin(&stats->timeline, span_ms);
  for (const ReplayWorker &w : p->workers) {
    ReplayWorkerStats ws;
    ws.number = w.number;
    ws.users = w.users;
    stats->workers.push_back(ws);
  }
  // Every user may hold its connections open; the timer wakes the loop to
  // the microsecond rather than the default 50.
  rlimit rl;
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  // A write to a connection the server closed fails with EPIPE, not a signal.
  signal(SIGPIPE, SIG_IGN);
  if (t.tls.ctx) SSL_CTX_sess_set_new_cb(t.tls.ctx, keep_session);

  // The users (each copy one) are dealt to the threads in turn; all share
  // one start.
  size_t copies = o.mode.copies, run_users = p->users.size() * copies;
  size_t parts = std::max<size_t>(1, std::min<size_t>(o.threads, run_users));
  SharedCounts shared;
  std::vector<Engine> engines(parts);
  std::vector<ReplayStats> part_stats(parts);
  std::vector<std::string> errors(parts);
  int64_t start = ctx.start_ns > 0 ? ctx.start_ns : mono_ns();
  stats->start_ns = start;
  stats->start_unix_us = ctx.start_unix_us;
  if (stats->start_unix_us == 0) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    stats->start_unix_us = static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000 +
                           (start - mono_ns()) / 1000;
  }
  for (size_t k = 0; k < parts; k++) {
    Engine &e = engines[k];
    e.shared = &shared;
    e.o = &o;
    e.plan = &plan;
    e.part = k;
    e.parts = parts;
    e.ctx = &ctx;
    e.p = p;
    e.t = &t;
    e.stats = &part_stats[k];
    e.stats->workers = stats->workers;
    e.stats->timeline = stats->timeline;
    e.stats->rewrites.resize(o.headers.size());
    e.retried_tally.resize(o.headers.size());
    e.stats->path_rewrites.resize(o.paths.size());
    e.retried_path_tally.resize(o.paths.size());
    e.error = &errors[k];
    e.stop_fd = ctx.stop_fd;
    e.progress_out = k == 0 ? ctx.progress_out : nullptr;
    e.start_ns = start;
    e.timeout_ns = static_cast<int64_t>(o.timeout_ms) * 1000000;
    http_parser_settings_init(&e.settings);
    e.settings.on_headers_complete = on_headers_complete;
    e.settings.on_message_complete = on_message_complete;
    for (size_t i = k; i < run_users; i += parts) {
      UserState &u = e.users.emplace_back();
      u.source = static_cast<uint32_t>(i / copies);
      u.copy = static_cast<uint32_t>(i % copies);
      u.ref = p->users[u.source];
    }
    // Reading the index a block at a time saves a read per request; the
    // blocks of all users stay within kIndexBlocksBytes.
    e.index_block =
        std::clamp<size_t>(kIndexBlocksBytes / std::max<size_t>(1, e.users.size()), 256, 4096);
  }
  std::vector<char> ok(parts, 0);
  std::vector<std::thread> threads;
  for (size_t k = 1; k < parts; k++)
    threads.emplace_back([&engines, &ok, k] { ok[k] = run_engine(&engines[k]); });
  ok[0] = run_engine(&engines[0]);
  for (std::thread &th : threads) th.join();
  int64_t end = mono_ns();
  if (engines[0].progress_shown) fputc('\n', ctx.progress_out);

  bool all_ok = true;
  int64_t last_send = -1, last_planned = 0;
  uint64_t passes = 1;
  uint64_t last_planned_ms = p->first_time_ms;
  for (size_t k = 0; k < parts; k++) {
    merge_replay_stats(stats, part_stats[k]);
    if (!ok[k] && all_ok) {
      *error = errors[k];
      all_ok = false;
    }
    const Engine &e = engines[k];
    last_send = std::max(last_send, e.last_send_ns);
    last_planned = std::max(last_planned, e.last_planned_ns);
    last_planned_ms = std::max(last_planned_ms, e.last_planned_ms);
    passes = std::max(passes, e.passes_planned);
  }
  // Every user of a pass begun counts, as every user of the package does
  // in a run of it once.
  for (ReplayWorkerStats &w : stats->workers) w.users *= copies * passes;
  stats->package_start_ms = static_cast<int64_t>(p->base_ms);
  stats->package_last_ms = static_cast<int64_t>(last_planned_ms);
  stats->elapsed_s = static_cast<double>(end - start) / 1e9;
  if (last_planned > start) stats->planned_span_s = static_cast<double>(last_planned - start) / 1e9;
  // Both spans start at time 0 of the package, so a late first send counts
  // against the achieved rate as a late last one does.
  if (last_send > start) stats->send_span_s = static_cast<double>(last_send - start) / 1e9;
  return all_ok;
}

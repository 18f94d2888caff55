// Measures the two HTTP/1.x response parsers vt_replay could use on the
// responses it meets most: small keep-alive answers with a Content-Length,
// and chunked ones. Built and run by bench/parser_choice.sh; not part of
// the build.
#include <http_parser.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <string>

namespace http = boost::beast::http;

static double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int complete_count = 0;
static int on_complete(http_parser *p) {
  complete_count++;
  http_parser_pause(p, 1);
  return 0;
}

// Parses `text` `n` times with http-parser; returns ns per response.
static double run_http_parser(const std::string &text, int n) {
  http_parser_settings s;
  http_parser_settings_init(&s);
  s.on_message_complete = on_complete;
  http_parser p;
  double t0 = now_s();
  for (int i = 0; i < n; i++) {
    http_parser_init(&p, HTTP_RESPONSE);
    http_parser_execute(&p, &s, text.data(), text.size());
    if (p.status_code != 200) return -1;
  }
  return (now_s() - t0) * 1e9 / n;
}

// The same with the other library's response parser, one parser per
// response as a client reusing a connection would construct.
static double run_beast(const std::string &text, int n) {
  double t0 = now_s();
  for (int i = 0; i < n; i++) {
    http::response_parser<http::string_body> p;
    p.eager(true);
    boost::beast::error_code ec;
    p.put(boost::asio::buffer(text), ec);
    if (ec || !p.is_done()) return -1;
    if (p.get().result_int() != 200) return -1;
  }
  return (now_s() - t0) * 1e9 / n;
}

int main() {
  const std::string plain =
      "HTTP/1.1 200 OK\r\nServer: test\r\nDate: Sun, 06 Dec 2026 03:00:00 GMT\r\n"
      "Content-Type: text/plain\r\nContent-Length: 2\r\nConnection: keep-alive\r\n\r\nok";
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nServer: test\r\nDate: Sun, 06 Dec 2026 03:00:00 GMT\r\n"
      "Content-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n"
      "40\r\n" + std::string(64, 'x') + "\r\n100\r\n" + std::string(256, 'y') + "\r\n0\r\n\r\n";
  const int n = 2000000;
  for (int round = 0; round < 3; round++) {
    printf("round %d: content-length: http-parser %.1f ns, beast %.1f ns; chunked: http-parser %.1f ns, beast %.1f ns\n",
           round, run_http_parser(plain, n), run_beast(plain, n), run_http_parser(chunked, n),
           run_beast(chunked, n));
  }
  return complete_count > 0 ? 0 : 1;
}

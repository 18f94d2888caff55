#include "tools/loggen/loggen_records.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <array>

namespace {

constexpr char kEnvelope[] =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">\n";
constexpr char kTrailer[] = "&xmlEnd=00\n";  // 11 bytes after the body
constexpr size_t kMinFiller = 15;            // "<Data>" + 1 + "</Data>\n"
constexpr size_t kMaxLine = 512;             // longest formatted line but filler and body ends

constexpr size_t kPoolSize = 65536;
constexpr uint64_t kLongestFiller = 160 + kMinFiller - 1;  // a line and a merged remainder

// Letters and digits that filler lines are cut from.
const char *filler_pool() {
  static const std::array<char, kPoolSize + kLongestFiller> pool = [] {
    const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::array<char, kPoolSize + kLongestFiller> p;
    LoggenRng r = {0x1234567};
    for (char &c : p) c = kAlnum[rng_below(&r, 62)];
    return p;
  }();
  return pool.data();
}

void put(OutBuf *buf, const char *text, size_t len) {
  memcpy(out_reserve(buf, len), text, len);
  buf->used += len;
}

void put(OutBuf *buf, const std::string &s) {
  put(buf, s.data(), s.size());
}

void put_format(OutBuf *buf, const char *format, ...) __attribute__((format(printf, 2, 3)));
void put_format(OutBuf *buf, const char *format, ...) {
  char *at = out_reserve(buf, kMaxLine);
  va_list ap;
  va_start(ap, format);
  int len = vsnprintf(at, kMaxLine, format, ap);
  va_end(ap);
  buf->used += len;
}

void put_header(OutBuf *buf, const LoggenEvent &e, const LoggenService &svc,
                int64_t window_start_s) {
  int code = e.bad ? kFirstBadCode - 1 + e.bad : 0;
  if (code == 101)
    put_format(buf, "RequestTimeEx=%lld\n", (long long)shown_seconds(e, window_start_s));
  if (code != 101 && code != 105)
    put_format(buf, "RequestTimeEx=%lld.%06llu\n", (long long)shown_seconds(e, window_start_s),
               (unsigned long long)(e.time_us % 1000000));
  if (code == 107) {
    put_format(buf, "HTTP_SOAPACTION=\"\"\n");
  } else {
    put(buf, svc.action_line);
    if (code == 103) put_format(buf, "HTTP_SOAPACTION=\"urn:Store/IAudit/Record\"\n");
  }
  if (code == 104) put_format(buf, "URL=/svc/Service.svc?wsdl=1\n");
  if (code != 104 && code != 106) put(buf, svc.url_line);
}

// Filler lines "<Data>...</Data>\n" of exactly `bytes` bytes (at least kMinFiller).
void put_filler(OutBuf *buf, uint64_t bytes, LoggenRng *rng) {
  const char *pool = filler_pool();
  while (bytes > 0) {
    uint64_t len = rng_between(rng, 60, 160);
    if (len > bytes || bytes - len < kMinFiller) len = bytes;
    size_t text = len - kMinFiller + 1;
    char *at = out_reserve(buf, len);
    memcpy(at, "<Data>", 6);
    memcpy(at + 6, pool + rng_below(rng, kPoolSize), text);
    memcpy(at + 6 + text, "</Data>\n", 8);
    buf->used += len;
    bytes -= len;
  }
}

}  // namespace

char *out_reserve(OutBuf *buf, size_t n) {
  if (buf->data.size() - buf->used < n) {
    out_flush(buf);
    if (buf->data.size() < n) buf->data.resize(n);
  }
  return buf->data.data() + buf->used;
}

bool out_flush(OutBuf *buf) {
  size_t done = 0;
  while (done < buf->used && !buf->failed) {
    ssize_t w = write(buf->fd, buf->data.data() + done, buf->used - done);
    if (w < 0) {
      buf->failed = true;
      break;
    }
    done += w;
  }
  buf->written += done;
  buf->used = 0;
  return !buf->failed;
}

int64_t shown_seconds(const LoggenEvent &e, int64_t window_start_s) {
  int64_t s = static_cast<int64_t>(e.time_us / 1000000);
  if (e.bad == 102 - kFirstBadCode + 1) return window_start_s - 1 - s % 86400;
  return s;
}

std::vector<LoggenService> make_services(int64_t count, bool url_per_service) {
  std::vector<LoggenService> services;
  for (int64_t k = 0; k < count; k++) {
    std::string area = "IArea" + std::to_string(k % 5), op = "Op" + std::to_string(k);
    std::string path = "/svc/Area" + std::to_string(k % 5) + ".svc";
    if (k == 0) area = "IService", op = "GetData", path = "/svc/Service.svc";
    if (k == 1) area = "IOrders", op = "PutOrder", path = "/svc/Orders.svc";
    if (url_per_service) path += "/" + std::to_string(k);
    std::string header = k % 7 == 6 ? "HTTP_WFSOAPACTION=" : "HTTP_SOAPACTION=";
    services.push_back(
        {header + "\"urn:Store/" + area + "/" + op + "\"\n", "URL=" + path + "\n", op});
  }
  return services;
}

uint64_t append_record(OutBuf *buf, const LoggenEvent &e, const LoggenService &svc,
                       uint64_t record_no, int64_t window_start_s, LoggenRng *filler_rng) {
  put_header(buf, e, svc, window_start_s);
  put_format(buf, "xml1=%09llu", (unsigned long long)(record_no % 1000000000));
  uint64_t fixed = sizeof(kEnvelope) - 1;
  put(buf, kEnvelope, sizeof(kEnvelope) - 1);
  char lines[kMaxLine];
  int len = snprintf(lines, sizeof(lines),
                     e.flags & kNsPrefix
                         ? "<ns1:XACustId xmlns:ns1=\"urn:Store:Customer\">%llu</ns1:XACustId>\n"
                         : "<XACustId>%llu</XACustId>\n",
                     (unsigned long long)customer_id(e.customer));
  if (e.flags & kCreationTs) {
    time_t s = static_cast<time_t>(e.time_us / 1000000);
    struct tm t;
    gmtime_r(&s, &t);
    len += snprintf(lines + len, sizeof(lines) - len,
                    "<creationTimestamp>%04d-%02d-%02dT%02d:%02d:%02d.%03dZ</creationTimestamp>\n",
                    t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                    static_cast<int>(e.time_us / 1000 % 1000));
  }
  std::string open = "<soap:Body><" + svc.operation + " xmlns=\"urn:Store\">";
  std::string close = "</" + svc.operation + "></soap:Body></soap:Envelope>";
  fixed += open.size() + 1 + len + close.size();
  uint64_t filler = e.body_size > fixed ? e.body_size - fixed : 0;
  uint64_t pad = filler < kMinFiller ? filler : 0;  // too little for a line: blanks
  put(buf, open);
  memset(out_reserve(buf, pad), ' ', pad);
  buf->used += pad;
  put(buf, "\n", 1);
  put(buf, lines, len);
  put_filler(buf, filler - pad, filler_rng);
  put(buf, close);
  put(buf, kTrailer, sizeof(kTrailer) - 1);
  put(buf, "*******\n\n", 9);
  return fixed + filler;
}

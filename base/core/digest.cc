#include "base/core/digest.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "base/core/input_file.h"

void vtlb_digest_init(DigestState *s) {
  XXH3_INITSTATE(&s->xxh);
  XXH3_128bits_reset(&s->xxh);
  s->length = 0;
}

void vtlb_digest_update(DigestState *s, const void *data, size_t len) {
  XXH3_128bits_update(&s->xxh, data, len);
  s->length += len;
}

void vtlb_digest_final(DigestState *s, uint8_t digest[kDigestSize]) {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(&s->xxh));
  memcpy(digest, canonical.digest, kDigestSize);
}

std::string vtlb_digest_hex(const uint8_t digest[kDigestSize]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(2 * kDigestSize, '0');
  for (size_t i = 0; i < kDigestSize; i++) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  return out;
}

bool vtlb_digest_fd(int fd, std::string *hex, uint64_t *size, std::string *why) {
  DigestState s;
  vtlb_digest_init(&s);
  static thread_local uint8_t buf[1 << 18];
  for (;;) {
    ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int err = errno;
      *why = strerror(err);
      errno = err;
      return false;
    }
    if (got == 0) break;
    vtlb_digest_update(&s, buf, static_cast<size_t>(got));
  }
  uint8_t digest[kDigestSize];
  *size = s.length;
  vtlb_digest_final(&s, digest);
  *hex = vtlb_digest_hex(digest);
  return true;
}

bool vtlb_digest_file(const char *path, std::string *hex, uint64_t *size, std::string *why) {
  int fd = vtlb_open_regular_file(path, O_RDONLY, why);
  if (fd < 0) return false;
  bool ok = vtlb_digest_fd(fd, hex, size, why);
  int err = errno;
  close(fd);
  errno = err;
  return ok;
}

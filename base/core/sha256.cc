#include "base/core/sha256.h"

#include "base/core/input_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

inline uint32_t rotr(uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

// Hashes `blocks` whole blocks of 64 bytes into h.
void compress_plain(uint32_t h[8], const uint8_t *data, size_t blocks) {
  for (; blocks; blocks--, data += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
      w[i] = uint32_t{data[4 * i]} << 24 | uint32_t{data[4 * i + 1]} << 16 |
             uint32_t{data[4 * i + 2]} << 8 | uint32_t{data[4 * i + 3]};
    for (int i = 16; i < 64; i++) {
      uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; i++) {
      uint32_t t1 = k + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                    kRound[i] + w[i];
      uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      k = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += k;
  }
}

#if defined(__x86_64__)

// The same with the SHA extensions: the state is kept as the two halves
// the round instruction takes, ABEF and CDGH, and the message schedule of
// four words at a time is built by the schedule instructions as the rounds
// go.
__attribute__((target("sha,sse4.1,ssse3"))) void compress_cpu(uint32_t h[8], const uint8_t *data,
                                                               size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(&h[0])), 0xB1);
  __m128i state1 =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(&h[4])), 0x1B);
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);       // CDGH
  for (; blocks; blocks--, data += 64) {
    __m128i abef = state0, cdgh = state1;
    __m128i m[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; g++) {
      __m128i &cur = m[g % 4];
      if (g < 4)
        cur = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * g)),
                               byte_swap);
      __m128i msg =
          _mm_add_epi32(cur, _mm_loadu_si128(reinterpret_cast<const __m128i *>(&kRound[4 * g])));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      if (g >= 3 && g <= 14) {
        __m128i &next = m[(g + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(cur, m[(g + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, cur);
      }
      state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(msg, 0x0E));
      if (g >= 1 && g <= 12) m[(g + 3) % 4] = _mm_sha256msg1_epu32(m[(g + 3) % 4], cur);
    }
    state0 = _mm_add_epi32(state0, abef);
    state1 = _mm_add_epi32(state1, cdgh);
  }
  tmp = _mm_shuffle_epi32(state0, 0x1B);      // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);   // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i *>(&h[0]), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(&h[4]), state1);
}

bool cpu_has_sha() {
  unsigned a, b, c, d;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & (1u << 29))) return false;
  // SSSE3 and SSE4.1 come with every processor that has SHA; checked anyway.
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & (1u << 9)) && (c & (1u << 19));
}

bool use_cpu = cpu_has_sha();

#else

bool use_cpu = false;
bool cpu_has_sha() {
  return false;
}
void compress_cpu(uint32_t h[8], const uint8_t *data, size_t blocks) {
  compress_plain(h, data, blocks);
}

#endif

void compress(uint32_t h[8], const uint8_t *data, size_t blocks) {
  if (use_cpu)
    compress_cpu(h, data, blocks);
  else
    compress_plain(h, data, blocks);
}

}  // namespace

void vtlb_sha256_init(Sha256State *s) {
  static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(s->h, kInitial, sizeof kInitial);
  s->length = 0;
  s->used = 0;
}

void vtlb_sha256_update(Sha256State *s, const void *data, size_t len) {
  const uint8_t *p = static_cast<const uint8_t *>(data);
  s->length += len;
  if (s->used) {
    size_t take = len < 64 - s->used ? len : 64 - s->used;
    memcpy(s->block + s->used, p, take);
    s->used += take;
    p += take;
    len -= take;
    if (s->used < 64) return;
    compress(s->h, s->block, 1);
    s->used = 0;
  }
  if (len >= 64) {
    compress(s->h, p, len / 64);
    p += len / 64 * 64;
    len %= 64;
  }
  memcpy(s->block, p, len);
  s->used = len;
}

void vtlb_sha256_final(Sha256State *s, uint8_t digest[kSha256Size]) {
  uint64_t bits = s->length * 8;
  s->block[s->used++] = 0x80;
  if (s->used > 56) {
    memset(s->block + s->used, 0, 64 - s->used);
    compress(s->h, s->block, 1);
    s->used = 0;
  }
  memset(s->block + s->used, 0, 56 - s->used);
  for (int i = 0; i < 8; i++) s->block[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  compress(s->h, s->block, 1);
  for (int i = 0; i < 8; i++)
    for (int j = 0; j < 4; j++) digest[4 * i + j] = static_cast<uint8_t>(s->h[i] >> (24 - 8 * j));
}

std::string vtlb_sha256_hex(const uint8_t digest[kSha256Size]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(2 * kSha256Size, '0');
  for (size_t i = 0; i < kSha256Size; i++) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  return out;
}

bool vtlb_sha256_file(const char *path, std::string *hex, uint64_t *size, std::string *why) {
  int fd = vtlb_open_regular_file(path, O_RDONLY, why);
  if (fd < 0) return false;
  Sha256State s;
  vtlb_sha256_init(&s);
  static thread_local uint8_t buf[1 << 18];
  for (;;) {
    ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int err = errno;
      close(fd);
      *why = strerror(err);
      errno = err;
      return false;
    }
    if (got == 0) break;
    vtlb_sha256_update(&s, buf, static_cast<size_t>(got));
  }
  close(fd);
  uint8_t digest[kSha256Size];
  *size = s.length;
  vtlb_sha256_final(&s, digest);
  *hex = vtlb_sha256_hex(digest);
  return true;
}

bool vtlb_sha256_uses_cpu() {
  return use_cpu;
}

void vtlb_sha256_use_cpu(bool use) {
  use_cpu = use && cpu_has_sha();
}

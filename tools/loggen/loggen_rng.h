// The generator's own random numbers: splitmix64, so that a seed gives the
// same log tree on every platform and library version.
#ifndef VT_LOGGEN_LOGGEN_RNG_H_
#define VT_LOGGEN_LOGGEN_RNG_H_

#include <stdint.h>

struct LoggenRng {
  uint64_t state;
};

inline uint64_t rng_next(LoggenRng *r) {
  uint64_t z = (r->state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Uniform in [0, n); 0 when n is 0.
inline uint64_t rng_below(LoggenRng *r, uint64_t n) {
  return static_cast<uint64_t>((static_cast<unsigned __int128>(rng_next(r)) * n) >> 64);
}

// Uniform in [lo, hi].
inline uint64_t rng_between(LoggenRng *r, uint64_t lo, uint64_t hi) {
  return lo + rng_below(r, hi - lo + 1);
}

// True with probability p.
inline bool rng_chance(LoggenRng *r, double p) {
  return static_cast<double>(rng_next(r) >> 11) * 0x1.0p-53 < p;
}

#endif  // VT_LOGGEN_LOGGEN_RNG_H_

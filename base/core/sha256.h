// SHA-256 (FIPS 180-4), fed piece by piece. On processors with the SHA
// extensions the blocks are hashed by those instructions, elsewhere in plain
// C++; both give the same digest.
#ifndef VT_BASE_CORE_SHA256_H_
#define VT_BASE_CORE_SHA256_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

constexpr size_t kSha256Size = 32;

struct Sha256State {
  uint32_t h[8];
  uint64_t length;  // bytes fed so far
  uint8_t block[64];
  size_t used;  // bytes of block waiting for the rest of it
};

void vtlb_sha256_init(Sha256State *s);
void vtlb_sha256_update(Sha256State *s, const void *data, size_t len);
// Writes the digest of everything fed; the state must be initialised again
// before it is fed anew.
void vtlb_sha256_final(Sha256State *s, uint8_t digest[kSha256Size]);

// The digest as 64 lower-case hexadecimal digits.
std::string vtlb_sha256_hex(const uint8_t digest[kSha256Size]);

// The digest of the regular file at path, as hexadecimal digits, and its
// size. False with *why set (and errno: ENOENT for a file that is not there)
// when it is no regular file or cannot be read; a named pipe is not waited on.
bool vtlb_sha256_file(const char *path, std::string *hex, uint64_t *size, std::string *why);

// Whether the SHA instructions are used here; tests hash with both ways.
bool vtlb_sha256_uses_cpu();
void vtlb_sha256_use_cpu(bool use);

#endif  // VT_BASE_CORE_SHA256_H_

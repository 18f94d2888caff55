// The digest of a package's files: the 128-bit XXH3 hash (libxxhash), fed
// piece by piece. It is a check against accidents (a disk that lost a block,
// a copy cut short, a byte flipped), not against a person: whoever may
// write a file of the package may write the manifest that lists its digest
// too. It was chosen for its speed (docs/performance.md).
#ifndef VT_BASE_CORE_DIGEST_H_
#define VT_BASE_CORE_DIGEST_H_

#define XXH_STATIC_LINKING_ONLY  // XXH3_state_t held in place, never allocated
#include <stddef.h>
#include <stdint.h>
#include <xxhash.h>

#include <string>

constexpr size_t kDigestSize = 16;
// The manifest's name for the digest of a file.
constexpr const char kDigestField[] = "xxh3_128";

struct DigestState {
  XXH3_state_t xxh;
  uint64_t length;  // bytes fed so far
};

void vtlb_digest_init(DigestState *s);
void vtlb_digest_update(DigestState *s, const void *data, size_t len);
// Writes the digest of everything fed; the state must be initialised again
// before it is fed anew.
void vtlb_digest_final(DigestState *s, uint8_t digest[kDigestSize]);

// The digest as 32 lower-case hexadecimal digits, as xxh128sum prints it.
std::string vtlb_digest_hex(const uint8_t digest[kDigestSize]);

// The digest of the regular file at path, as hexadecimal digits, and its
// size. False with *why set (and errno: ENOENT for a file that is not there)
// when it is no regular file or cannot be read; a named pipe is not waited on.
bool vtlb_digest_file(const char *path, std::string *hex, uint64_t *size, std::string *why);
// The same of what is left to read of fd, which is left open.
bool vtlb_digest_fd(int fd, std::string *hex, uint64_t *size, std::string *why);

#endif  // VT_BASE_CORE_DIGEST_H_

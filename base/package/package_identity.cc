#include "base/package/package_identity.h"

#include <errno.h>
#include <sys/stat.h>

#include "base/core/input_file.h"
#include "base/core/sha256.h"

std::string package_identity(const std::string &manifest_text) {
  Sha256State s;
  vtlb_sha256_init(&s);
  vtlb_sha256_update(&s, manifest_text.data(), manifest_text.size());
  uint8_t digest[kSha256Size];
  vtlb_sha256_final(&s, digest);
  return vtlb_sha256_hex(digest);
}

bool read_package_identity(const std::string &dir, std::string *identity, std::string *error) {
  std::string path = dir + "/vt_manifest.json", text, why;
  struct stat st;
  identity->clear();
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
  if (!vtlb_read_regular_file(path, &text, &why)) {
    *error = path + ": " + why;
    return false;
  }
  *identity = package_identity(text);
  return true;
}

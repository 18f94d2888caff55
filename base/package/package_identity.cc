#include "base/package/package_identity.h"

#include "base/core/sha256.h"
#include "base/package/package_files.h"

std::string package_identity(const std::string &manifest_text) {
  Sha256State s;
  vtlb_sha256_init(&s);
  vtlb_sha256_update(&s, manifest_text.data(), manifest_text.size());
  uint8_t digest[kSha256Size];
  vtlb_sha256_final(&s, digest);
  return vtlb_sha256_hex(digest);
}

bool read_package_identity(const std::string &dir, std::string *identity, std::string *error) {
  identity->clear();
  PackageDir d;
  Manifest m;
  if (!open_package_dir(dir, false, &d, error)) return false;
  ManifestState state = read_package_manifest(d, &m, error);
  close_package_dir(&d);
  if (state == ManifestState::kUnreadable) return *error = dir + "/" + *error, false;
  *identity = m.identity;
  return true;
}

#include "base/package/package_identity.h"

#include "base/core/digest.h"
#include "base/package/package_files.h"

std::string package_identity(const std::string &manifest_text) {
  DigestState s;
  vtlb_digest_init(&s);
  vtlb_digest_update(&s, manifest_text.data(), manifest_text.size());
  uint8_t digest[kDigestSize];
  vtlb_digest_final(&s, digest);
  return vtlb_digest_hex(digest);
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

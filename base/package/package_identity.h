// A replay package's identity: the digest (digest.h) of its manifest's
// bytes, as 32 lower-case hexadecimal digits. The manifest holds when it was made and the
// size and digest of every request and index file, so two packages (two runs
// of one configuration too) have two identities, and reports of one package
// can be told from reports of another. A package without a manifest has no
// identity.
#ifndef VT_BASE_PACKAGE_PACKAGE_IDENTITY_H_
#define VT_BASE_PACKAGE_PACKAGE_IDENTITY_H_

#include <string>

std::string package_identity(const std::string &manifest_text);

// The identity of the package in dir: "" when it has no manifest. False
// with *error naming the manifest and the reason when it cannot be read or
// breaks the trust rules (package_files.h).
bool read_package_identity(const std::string &dir, std::string *identity, std::string *error);

#endif  // VT_BASE_PACKAGE_PACKAGE_IDENTITY_H_

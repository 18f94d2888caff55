#include "base/package/package_identity.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace {

// The digest of the manifest's bytes; none without a manifest; a manifest
// that cannot be read is an error, not a package without identity.
TEST(PackageIdentity, IsTheDigestOfTheManifest) {
  EXPECT_EQ(package_identity("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  char tmpl[] = "/tmp/vt_identity_test.XXXXXX";
  std::string dir = mkdtemp(tmpl), id = "x", error;
  EXPECT_TRUE(read_package_identity(dir, &id, &error));
  EXPECT_EQ(id, "");
  std::ofstream(dir + "/vt_manifest.json") << "abc";
  EXPECT_TRUE(read_package_identity(dir, &id, &error));
  EXPECT_EQ(id, package_identity("abc"));
  std::filesystem::remove(dir + "/vt_manifest.json");
  std::filesystem::create_directory(dir + "/vt_manifest.json");
  EXPECT_FALSE(read_package_identity(dir, &id, &error));
  EXPECT_EQ(error, dir + "/vt_manifest.json: a directory, not a regular file");
  std::filesystem::remove_all(dir);
}

}  // namespace

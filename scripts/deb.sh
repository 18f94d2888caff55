#!/bin/bash
# `make deb`: builds the installed programs in build/deb, optimised as Debian
# builds its packages (-O2) and with its hardening flags (VT_HARDEN), and
# packs them with CPack into build/deb/package/vortan-replay-gen_<version>_<arch>.deb:
# the six programs, their manual pages and bash completion
# (cmake/package_deb.cmake). Then lintian's verdict, when lintian is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${DEB_BUILD_DIR:-build/deb}
targets=(vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink)

scripts/setup.sh
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  echo "deb: configuring $BUILD_DIR (RelWithDebInfo, hardened; CPack strips the programs)"
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_HARDEN=ON >/dev/null
fi
echo "deb: building ${targets[*]} in $BUILD_DIR"
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" --target "${targets[@]}"
echo "deb: packing"
rm -rf "$BUILD_DIR/package"
(cd "$BUILD_DIR" && cpack -G DEB >cpack.log 2>&1) || { cat "$BUILD_DIR/cpack.log"; exit 1; }
deb=$(ls "$BUILD_DIR"/package/*.deb)
echo "deb: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\|Installed-Size\):/deb:   \1:/p'
if command -v lintian >/dev/null; then
  # lintian says it should not run as root; that line is no finding.
  findings=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
  if [ -z "$findings" ]; then
    echo "deb: lintian reports no error and no warning"
  else
    echo "deb: lintian says (the README's \"Debian package\" lists the findings that stay):"
    echo "$findings" | sed 's/^/deb:   /'
  fi
else
  echo "deb: lintian is not installed (apt-get install lintian), so the package was not linted"
fi
echo "deb: install it with: sudo apt install ./$deb"

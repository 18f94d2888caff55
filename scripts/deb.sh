#!/bin/bash
# `make deb`: builds the installed programs in build/deb, optimised as Debian
# builds its packages (-O2) and with its hardening flags (VT_HARDEN), and
# packs them with CPack into two packages in build/deb/package
# (cmake/package_deb.cmake): vortan-replay-gen_<version>_<arch>.deb, the six
# programs with their manual pages and bash completion, and
# vortan-replay-gen-standins_<version>_<arch>.deb, the stand-ins of the suite
# commands. Then lintian's verdict on each, when lintian is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${DEB_BUILD_DIR:-build/deb}
targets=(vtu_replay_gen vt_loggen vt_package_check vt_package vt_replay vt_sink
  vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name)

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
debs=("$BUILD_DIR"/package/vortan-replay-gen_*.deb "$BUILD_DIR"/package/vortan-replay-gen-standins_*.deb)
for deb in "${debs[@]}"; do
  echo "deb: $deb"
  dpkg-deb --info "$deb" |
    sed -n 's/^ \(Package\|Version\|Architecture\|Depends\|Suggests\|Installed-Size\):/deb:   \1:/p'
  if command -v lintian >/dev/null; then
    # lintian says it should not run as root; that line is no finding.
    findings=$(lintian "$deb" 2>&1 | grep -v 'running with root privileges' || true)
    if [ -z "$findings" ]; then
      echo "deb:   lintian reports no error and no warning"
    else
      echo "deb:   lintian says (the README's \"Debian packages\" lists the findings that stay):"
      echo "$findings" | sed 's/^/deb:     /'
    fi
  fi
done
command -v lintian >/dev/null ||
  echo "deb: lintian is not installed (apt-get install lintian), so the packages were not linted"
echo "deb: install them with: sudo apt install$(printf ' ./%s' "${debs[@]}")"
echo "deb: (the second, the stand-ins, only on a machine without the suite's commands)"

#!/bin/bash
# The Debian package: CPack packs this build's programs as `make deb` packs
# its own; the package holds exactly the programs, their manual pages and
# bash completion and its documentation; dpkg installs it into a fresh root
# (an instdir and admindir of its own) and removes it again; the installed
# programs make and check a package of the sample tree. When lintian is
# installed, every error or warning it reports must be one the README lists
# with its reason.
#
#   deb_test.sh SOURCE_DIR BUILD_DIR SUITE_BIN
set -u
SRC=$(cd "$1" && pwd)
BUILD_DIR=$(cd "$2" && pwd)
SUITE_BIN=$3
T=$(mktemp -d "${TMPDIR:-/tmp}/vt_deb.XXXXXX")
trap 'rm -rf "$T"' EXIT
failures=0
fail() {
  echo "deb_test: $*"
  failures=$((failures + 1))
}

command -v dpkg-deb >/dev/null && command -v cpack >/dev/null || {
  echo "deb_test: dpkg-deb or cpack is missing"
  exit 1
}
(cd "$T" && cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$T/pack") >"$T/cpack.log" 2>&1 ||
  { cat "$T/cpack.log"; fail "cpack failed"; exit 1; }
deb=$(ls "$T"/pack/*.deb 2>/dev/null)
[ -f "$deb" ] || { cat "$T/cpack.log"; fail "cpack made no .deb"; exit 1; }
version=$(sed -n 's/^project(vortan_replay_gen VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
[ "$(basename "$deb")" = "vortan-replay-gen_${version}_$(dpkg --print-architecture).deb" ] ||
  fail "the package is named $(basename "$deb")"

# The control fields.
info=$(dpkg-deb --info "$deb")
for field in "Package: vortan-replay-gen" "Version: $version" "Section: utils" "Priority: optional"; do
  grep -qx " $field" <<<"$info" || fail "no '$field' in the control file"
done
grep -q '^ Depends: .*libc6' <<<"$info" || fail "the package does not depend on libc6"
grep -q '^ Maintainer: .*<.*@.*>' <<<"$info" || fail "no maintainer address"

# Exactly these files, with these modes.
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sort >"$T/contents"
{
  for p in vt_loggen vt_package vt_package_check vtu_replay_gen vt_replay vt_sink; do
    echo "-rwxr-xr-x ./usr/bin/$p"
    echo "-rw-r--r-- ./usr/share/bash-completion/completions/$p"
    echo "-rw-r--r-- ./usr/share/man/man1/$p.1.gz"
  done
  echo "-rw-r--r-- ./usr/share/doc/vortan-replay-gen/changelog.gz"
  echo "-rw-r--r-- ./usr/share/doc/vortan-replay-gen/copyright"
} | sort >"$T/wanted"
diff "$T/wanted" "$T/contents" >"$T/diff" || fail "the package's files differ from those wanted: $(cat "$T/diff")"

# dpkg installs it into a root of its own (the libraries it depends on are
# the host's) and removes it again at the end. Without root, dpkg cannot give
# the files to root: the package is unpacked with dpkg-deb -x instead.
ROOT=$T/root
mkdir -p "$ROOT" "$T/admin/info" "$T/admin/updates"
: >"$T/admin/status"
dpkg_here() {
  PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg --instdir="$ROOT" --admindir="$T/admin" \
    --force-not-root --force-depends "$@"
}
with_dpkg=0
if [ "$(id -u)" = 0 ]; then
  with_dpkg=1
  dpkg_here -i "$deb" >"$T/dpkg.log" 2>&1 || { cat "$T/dpkg.log"; fail "dpkg -i failed"; }
  dpkg_here -s vortan-replay-gen 2>/dev/null | grep -q '^Status: install ok installed' ||
    fail "dpkg does not list the package as installed"
else
  echo "deb_test: not root: unpacking with dpkg-deb -x instead of installing with dpkg"
  dpkg-deb -x "$deb" "$ROOT" || fail "dpkg-deb -x failed"
fi

# The installed programs on the sample tree (the suite stand-ins from this
# build: the package leaves them out).
RUN=$T/run
mkdir -p "$RUN/wdir/scenarios/demo/replay"
sed -e "s#@EXAMPLES@#$SRC/examples#g" -e "s#@DEMO@#$RUN#g" "$SRC/examples/replay.conf.in" \
  >"$RUN/replay.conf"
export PATH=$ROOT/usr/bin:$SUITE_BIN:/usr/bin:/bin
[ "$(command -v vtu_replay_gen)" = "$ROOT/usr/bin/vtu_replay_gen" ] || fail "vtu_replay_gen is not the installed one"
VT_WDIR=$RUN/wdir vtu_replay_gen -i "$RUN/replay.conf" -d 0 >"$T/run.log" 2>&1 ||
  { cat "$T/run.log"; fail "the installed vtu_replay_gen failed"; }
check=$(vt_package check "$RUN/replay" 2>&1)
grep -qx "check: $RUN/replay: 2 workers, 14 users, 23 requests, 0 problems" <<<"$check" ||
  fail "the installed vt_package check says: $check"
grep -q "^check: vt_manifest.json: 2 workers' request and index files match" <<<"$check" ||
  fail "the installed check did not verify the manifest: $check"
[ "$(vt_package_check "$RUN/replay")" = "package_check: 2 workers, 14 users, 23 requests, 0 problems" ] ||
  fail "the installed vt_package_check disagrees"
vt_loggen --out "$T/logs" --requests 50 --quiet | grep -q '^requests=50$' || fail "the installed vt_loggen"
for p in vtu_replay_gen vt_loggen vt_package vt_package_check; do
  zcat "$ROOT/usr/share/man/man1/$p.1.gz" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1 | grep -q . &&
    fail "the installed manual page of $p does not render cleanly"
done
bash -c "source '$ROOT/usr/share/bash-completion/completions/vt_package' && complete -p vt_package" \
  >/dev/null 2>&1 || fail "the installed completion does not load"

if [ $with_dpkg = 1 ]; then
  dpkg_here -r vortan-replay-gen >>"$T/dpkg.log" 2>&1 || { cat "$T/dpkg.log"; fail "dpkg -r failed"; }
  left=$(find "$ROOT" ! -type d)
  [ -z "$left" ] || fail "dpkg -r left: $left"
fi

# lintian, where it is installed: only the findings the README lists.
if command -v lintian >/dev/null; then
  allowed=$(awk '/^### Debian package/ { on = 1; next } /^#/ { on = 0 } on' "$SRC/README.md" |
    grep -oE '^\| `[a-z0-9-]+' | tr -d '|` ')
  lintian "$deb" 2>/dev/null | grep -E '^(E|W): ' >"$T/lintian" || true
  while read -r level _ tag _; do
    grep -qx -- "$tag" <<<"$allowed" || fail "lintian: $level $tag is not among the README's findings"
  done <"$T/lintian"
else
  echo "deb_test: lintian is not installed; the package was not linted"
fi

[ $failures -eq 0 ] && echo "deb_test: $(basename "$deb") installs, runs on the sample tree and removes cleanly"
exit $((failures > 0))

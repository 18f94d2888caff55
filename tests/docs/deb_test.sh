#!/bin/bash
# deb_test.sh SOURCE_DIR BUILD_DIR: the two Debian packages of this build, their fields and files;
# installed in a fresh root (dpkg, or dpkg-deb -x without root), the README's Quick start runs
# there against vt_sink on 127.0.0.1; dpkg removes them; lintian reports only the README's findings.
set -u
SRC=$(cd "$1" && pwd)
BUILD_DIR=$(cd "$2" && pwd)
. "$(dirname "$0")/../test_lib.sh" deb_test
SINK_PID=
trap '[ -n "$SINK_PID" ] && kill "$SINK_PID" 2>/dev/null; rm -rf "$T"' EXIT
stop() {
  fail "$*"
  [ -f "$T/out" ] && { echo "--- output of the quick start:"; tail -n 40 "$T/out"; }
  exit 1
}

(cd "$T" && cpack -G DEB --config "$BUILD_DIR/CPackConfig.cmake" -B "$T/pack") >"$T/cpack.log" 2>&1 ||
  { cat "$T/cpack.log"; stop "cpack failed"; }
version=$(sed -n 's/^project(vortan_replay_gen VERSION \([0-9.]*\).*/\1/p' "$SRC/CMakeLists.txt")
MAIN=vortan-replay-gen STANDINS=vortan-replay-gen-standins arch=$(dpkg --print-architecture)
debs=("$T/pack/${MAIN}_${version}_$arch.deb" "$T/pack/${STANDINS}_${version}_$arch.deb")
ls "${debs[@]}" >/dev/null || stop "cpack made not both packages, but: $(ls "$T/pack")"

# The control fields, and exactly these files with these modes.
while IFS='|' read -r deb field; do
  dpkg-deb --field "$T/pack/$deb"_*.deb | grep -qx -- "$field" || fail "$deb: no '$field'"
done <<EOF
$MAIN|Section: utils
$MAIN|Suggests: $STANDINS
$MAIN|Depends: .*libc6.*
$MAIN|Maintainer: .*<.*@.*>
$STANDINS|Enhances: $MAIN
EOF
files() {  # files PACKAGE PROGRAM...: the files wanted of a package, sorted
  local pkg=$1 p
  for p in "${@:2}"; do
    printf -- '-rwxr-xr-x ./usr/bin/%s\n-rw-r--r-- ./usr/share/man/man1/%s.1.gz\n' "$p" "$p"
    [ "$pkg" = $MAIN ] && echo "-rw-r--r-- ./usr/share/bash-completion/completions/$p"
  done
  printf -- "-rw-r--r-- ./usr/share/doc/$pkg/%s\n" changelog.gz copyright
}
files $MAIN vt_loggen vt_package vt_package_check vtu_replay_gen vt_replay vt_sink | sort >"$T/wanted.0"
files $STANDINS vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name | sort >"$T/wanted.1"
for i in 0 1; do
  dpkg-deb --contents "${debs[i]}" | awk '$1 !~ /^d/ { print $1, $6 }' | sort |
    diff "$T/wanted.$i" - >"$T/diff" || fail "${debs[i]##*/}'s files differ from those wanted: $(cat "$T/diff")"
done

# Both into a root of their own (with the host's libraries); without root, unpacked only.
ROOT=$T/root
mkdir -p "$ROOT" "$T/admin/info" "$T/admin/updates"
: >"$T/admin/status"
dpkg_here() {
  PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg --instdir="$ROOT" --admindir="$T/admin" \
    --force-not-root --force-depends "$@" >>"$T/dpkg.log" 2>&1 || { cat "$T/dpkg.log"; fail "dpkg $*"; }
}
if [ "$(id -u)" = 0 ]; then
  dpkg_here -i "${debs[@]}"
  dpkg_here -s $MAIN $STANDINS
  [ "$(grep -c '^Status: install ok installed' "$T/dpkg.log")" = 2 ] || fail "dpkg lists not both as installed"
else
  echo "deb_test: not root: unpacking with dpkg-deb -x instead of installing with dpkg"
  for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$ROOT" || fail "dpkg-deb -x $deb"; done
fi

# The Quick start's indented lines; its install lines name the two packages (installed above).
awk '/^## / { inside = ($0 == "## Quick start") } inside && /^    / { print substr($0, 5) }' \
  "$SRC/README.md" >"$T/quickstart"
grep -qx 'make deb' "$T/quickstart" || stop "the quick start does not run make deb"
named=$(sed -n 's#^sudo apt install \./build/deb/package/##p' "$T/quickstart")
[ "$(cd "$T/pack" && eval "ls $named")" = "$(basename -a "${debs[@]}" | sort)" ] ||
  stop "the quick start's apt install names $named, not the two packages"
grep -vx -e 'make deb' -e 'sudo apt install .*' "$T/quickstart" >"$T/quickstart.sh"
export HOME=$T/home PATH=$ROOT/usr/bin:/usr/bin:/bin
mkdir -p "$HOME"
[ "$(command -v vtu_gen_cscript)" = "$ROOT/usr/bin/vtu_gen_cscript" ] || stop "the stand-ins are not the installed ones"
(cd "$SRC" && bash -e "$T/quickstart.sh") >"$T/out" 2>&1 || stop "the quick start ended with status $?"
SINK_PID=$(cat "$HOME/vt-first/sink.pid" 2>/dev/null)
for _ in $(seq 100); do kill -0 "$SINK_PID" 2>/dev/null || break; sleep 0.1; done  # its last line
expected=$(sed -n 's/^expected_accepted_without_period=//p' "$T/out")
users=$(sed -n 's/^expected_users_without_period=//p' "$T/out")
for line in "preview: the run would succeed" "check: replay: 2 workers, $users users, $expected requests, 0 problems" \
  "check: vt_manifest.json: 2 workers' request and index files match.*" "Processing done at .*" \
  "  command      vt_replay replay --target http://127.0.0.1:[0-9]* --speed 20000 --quiet" \
  "  requests     planned $expected, sent $expected, completed $expected, errors 0" \
  "vt_sink: 127.0.0.1:[0-9]* answered $expected requests (200: $expected).*"; do
  grep -qx -- "$line" "$T/out" || fail "the quick start did not print: $line"
done

if [ "$(id -u)" = 0 ]; then
  dpkg_here -r $MAIN $STANDINS
  left=$(find "$ROOT" ! -type d)
  [ -z "$left" ] || fail "dpkg -r left: $left"
fi

if command -v lintian >/dev/null; then
  allowed=$(awk '/^### Debian packages/ { on = 1; next } /^#/ { on = 0 } on' "$SRC/README.md" |
    grep -oE '^\| `[a-z0-9-]+' | tr -d '|` ')
  lintian "${debs[@]}" 2>/dev/null | grep -E '^(E|W): ' >"$T/lintian" || true
  while read -r level _ tag _; do
    grep -qx -- "$tag" <<<"$allowed" || fail "lintian: $level $tag is not among the README's findings"
  done <"$T/lintian"
else
  echo "deb_test: lintian is not installed; the packages were not linted"
fi

finish "both packages install, run the quick start and remove cleanly"

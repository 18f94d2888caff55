#!/bin/bash
# Removes what scripts/install.sh installed into $DESTDIR$PREFIX: every file
# named in the lists share/vortan_replay_gen/installed_files[.suite] that the
# install left there (paths relative to the prefix), then the lists. Needs no
# build directory.
set -euo pipefail
PREFIX=${PREFIX:-/usr/local}
DESTDIR=${DESTDIR:-}
root=$DESTDIR$PREFIX
lists_dir=$root/share/vortan_replay_gen

shopt -s nullglob
lists=("$lists_dir"/installed_files "$lists_dir"/installed_files.*)
shopt -u nullglob
present=()
for l in "${lists[@]}"; do [ -f "$l" ] && present+=("$l"); done
if [ ${#present[@]} -eq 0 ]; then
  echo "uninstall: no list of installed files in $lists_dir; nothing removed" >&2
  exit 1
fi

status=0
for l in "${present[@]}"; do
  while IFS= read -r rel || [ -n "$rel" ]; do
    case $rel in
      '' ) continue ;;
      /* | ../* | */../* | */.. | ..)
        echo "uninstall: skipping '$rel' in $l: not a path inside the prefix" >&2
        status=1
        continue ;;
    esac
    if [ -e "$root/$rel" ] || [ -L "$root/$rel" ]; then
      rm -f -- "$root/$rel"
      echo "uninstall: removed $root/$rel"
    fi
  done <"$l"
  rm -f -- "$l"
done
rmdir -- "$lists_dir" 2>/dev/null || true
exit $status

# The replay directory is writable by every engine user but sticky (01777),
# so that nobody deletes or replaces another's files; and the files of the
# package are never writable by others, even under umask 000, so that the
# checker, which reports such files, finds the package sound.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
(umask 000 && run_tool -i x.conf)
stat -c '%a %n' "$WORK/replay" "$WORK"/replay/* | sed "s#$WORK#<WORK>#"
check_package "$WORK/replay"

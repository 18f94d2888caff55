# The replay directory is 01777 and no package file is writable by others, even under umask 000.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
(umask 000 && run_tool -i x.conf)
stat -c '%a %n' "$WORK/replay" "$WORK"/replay/* | sed "s#$WORK#<WORK>#"
check_package "$WORK/replay"

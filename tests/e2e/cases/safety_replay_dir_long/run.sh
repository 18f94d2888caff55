# A replay directory too long for the error log paths is refused before anything is made.
. "$CASE/../../lib/safety.sh"
setup_sample
part=$(printf 'd%.0s' $(seq 1 123))
long="$part/$part/$part/$part/d"  # 497 characters
write_conf x.conf "$long"
run_tool -i x.conf | sed "s#$long#<LONG>#"
[ -e "$part" ] || echo "nothing was made"
write_conf y.conf "$long"
run_tool -n 1 -i y.conf >/dev/null && check_package "$long"

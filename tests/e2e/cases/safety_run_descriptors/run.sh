# While suite commands run, the run holds its directory's lock and no descriptor of a removed file.
. "$CASE/../../lib/safety.sh"
setup_sample
mkdir -p replay wrap
echo old >replay/vt_index_0
for command in vtu_gen_cscript vtu_gen_script vti_get_page vtu_change_page_name; do
  cat >wrap/$command <<WRAP
#!/bin/bash
p=\$PPID
while [ "\$(cat /proc/\$p/comm)" != vtu_replay_gen ]; do
  p=\$(cut -d" " -f4 "/proc/\$p/stat")
  [ "\$p" -gt 1 ] || exit 9
done
held=\$(for fd in /proc/\$p/fd/*; do readlink "\$fd"; done)
echo "$command: \$(grep -c ' (deleted)\$' <<<"\$held") gone, \$(grep -cx "$WORK/replay" <<<"\$held") replay directory"
exec "$SUITE_BIN/$command" "\$@"
WRAP
  chmod +x wrap/$command
done
write_conf x.conf "$WORK/replay"
FAKE_BIN=$WORK/wrap run_tool -f -i x.conf -n 2
grep -E '^vt[a-z_]*: [0-9]+ gone' run.out

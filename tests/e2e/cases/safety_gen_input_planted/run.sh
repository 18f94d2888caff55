# A link or a named pipe planted at /tmp/filename_<pid> is refused, not written through or waited on.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
echo keep >target

# Planted under the shell's pid (the tool's), dated long ago: no case beside takes it for its own.
plant_and_run() {
  VT_WDIR=$WORK/wdir PATH=$SUITE_BIN:$PATH timeout 60 bash -c '
    echo $$ >pid
    if [ "$1" = link ]; then ln -s "$PWD/target" /tmp/filename_$$; else mkfifo /tmp/filename_$$; fi
    touch -h -d 2000-01-01 /tmp/filename_$$
    exec "$TOOL" -i x.conf' planter "$1" >run.out 2>run.err
  echo "status $?"
  cat run.err
  rm -f "/tmp/filename_$(cat pid)"
}

echo "== symbolic link"
plant_and_run link
cat target
echo "== named pipe"
rm -rf replay
plant_and_run fifo

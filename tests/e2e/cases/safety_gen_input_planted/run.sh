# Something planted under the script generator's input file name,
# /tmp/filename_<pid>, before the run: a symbolic link is not written
# through, a named pipe does not block the run; both are refused.
. "$CASE/../../lib/safety.sh"
setup_sample
write_conf x.conf "$WORK/replay"
echo keep >target

# The shell plants the file under its own process id, then becomes the tool.
# The planted file is dated long ago: a case running beside this one looks
# for generator input files made during its run, and this one is not its.
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

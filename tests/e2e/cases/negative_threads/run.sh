# -n is kept in 16 bits: 65535 reads as -1.
"$TOOL" -i x.conf -n -1
"$TOOL" -i x.conf -n 65535

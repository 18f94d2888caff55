"$TOOL" -i x.conf -z

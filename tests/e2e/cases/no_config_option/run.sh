"$TOOL" -f

"$TOOL" -i "$(printf 'a%.0s' $(seq 10000))"

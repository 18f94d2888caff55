# -d 0 silences all but the first line; the run still ends with status 255.
"$TOOL" -d 0 -i x.conf

# The suite command stand-ins on their own: generation, page listing, renaming, refusals.
export VT_WDIR=$WORK/out
mkdir -p out
printf '1 POST http://h/a GetQuote\n1 GET http://h/b?x=1 Orders\n' >in_c
printf '1 POST http://h/a\n1 GET http://h/b\n' >in_legacy
printf '1 POST http://h/a\tA\n' >in_tab
printf '2 POST http://h/a A\n' >in_count
printf '1 GET\n' >in_short

run() {
  echo "\$ $*"
  "$SUITE_BIN/$1" "${@:2}" 2>&1
  echo "status $?"
}

run vtu_gen_cscript -s p/s/c -f in_c -r
run vti_get_page p/s/c
run vtu_gen_cscript -s p/s/c -f in_c
run vtu_gen_script -s p/s/legacy -f in_legacy -r
run vti_get_page p/s/legacy
run vtu_gen_script -s p/s/l2 -f in_c -r
run vtu_gen_cscript -s p/s/x -f in_legacy -r
run vtu_gen_cscript -s p/s/x -f in_tab -r
run vtu_gen_cscript -s p/s/x -f in_count -r
run vtu_gen_script -s p/s/x -f in_short -r
run vtu_gen_cscript -s p/s/x -r
run vtu_gen_cscript -s p/s/x -f no_such_file -r
run vtu_gen_cscript -q -s p/s/x -f in_c
run vtu_gen_cscript -s
run vtu_gen_cscript -s p/x -f in_c -r
(unset VT_WDIR && run vtu_gen_cscript -s p/s/x -f in_c -r)
run vti_get_page p/s/none
run vti_get_page
run vtu_change_page_name -s p/s/c -p GetQuote,Orders -n Orders,GetQuote
run vtu_change_page_name -s p/s/c -p GetQuote -n A,B
run vtu_change_page_name -s p/s/c -p Nope -n A
run vtu_change_page_name -s p/s/c -p GetQuote
run vtu_change_page_name -s p/s/c -p GetQuote,Orders -n GetQuoteXXX,OrdersXXX
run vtu_change_page_name -s p/s/c -p GetQuoteXXX,OrdersXXX -n Orders,GetQuote
run vti_get_page p/s/c
run vtu_gen_cscript -s p/s/x -f in_c extra

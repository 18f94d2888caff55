// The shared body of the two script generators.
#ifndef VT_SUITE_GEN_MAIN_H_
#define VT_SUITE_GEN_MAIN_H_

// "<prog> -s project/subproject/name -f input_file [-r]": makes the script
// with one page per input line; -r replaces a script of that name. The C
// generator (type "C") takes page names from its input lines; the Legacy
// one names its pages page_1, page_2, ...
int gen_script_main(int argc, char **argv, const char *prog, const char *type);

#endif  // VT_SUITE_GEN_MAIN_H_

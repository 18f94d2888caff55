// The script, made by the suite's generator and given the service names.
#ifndef VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_
#define VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_

// Runs the suite's generator on the generator input file to make
// VT_WDIR/scripts/<script_name>, one page per service, removes the input file
// and names the pages after the services. An existing script is replaced
// only under -f. Ends the run on failure.
void create_script();

// Gives page k of the generated script the name of service k, through
// temporary names, when the script has exactly one page per service.
void rename_gen_file();

#endif  // VT_REPLAY_GEN_OUTPUT_SCRIPT_GEN_H_

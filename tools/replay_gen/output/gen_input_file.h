// The script generator's input file, "/tmp/filename_<pid>": one line per
// service, written while the request heads are composed.
#ifndef VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_
#define VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_

// Creates the file empty and keeps it open in vtu_gen_script_fp; a file that
// cannot be created ends the run.
void create_file_for_vtu_gen_script();

#endif  // VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_

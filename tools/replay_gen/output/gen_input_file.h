// The script generator's input file.
#ifndef VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_
#define VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_

void create_file_for_vtu_gen_script();

#endif  // VT_REPLAY_GEN_OUTPUT_GEN_INPUT_FILE_H_

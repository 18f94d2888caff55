// The configuration file and the replay directory.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_

void read_config_file_new(const char *config_file_name);
void validate_config_file_data();

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_READER_H_

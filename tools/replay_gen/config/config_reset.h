// Puts the configuration back to its state before any file was read, for
// harnesses that read many configurations in one process.
#ifndef VT_REPLAY_GEN_CONFIG_CONFIG_RESET_H_
#define VT_REPLAY_GEN_CONFIG_CONFIG_RESET_H_

// Every value read_config_file_new sets returns to its initial value; the
// accumulated texts and the service table (with every service's texts) are
// released. Command-line flags are left alone.
void reset_config_file_data();

#endif  // VT_REPLAY_GEN_CONFIG_CONFIG_RESET_H_

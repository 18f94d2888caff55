// The function names that lines of the console and the error logs begin
// with, where more than one file prints the same one: the names of the
// functions that once held the work, which the traces keep.
#ifndef VT_REPLAY_GEN_TRACE_NAMES_H_
#define VT_REPLAY_GEN_TRACE_NAMES_H_

namespace trace_name {
inline constexpr char kMain[] = "main";
inline constexpr char kOpenFile[] = "open_file";
inline constexpr char kReadConfig[] = "read_config_file_new";
inline constexpr char kGenInputFileList[] = "gen_input_file_list";
inline constexpr char kLoaderThread[] = "load_input_data_files_t";
inline constexpr char kLoadSequenceFile[] = "load_sequence_file_new";
inline constexpr char kCreateTableEntry[] = "create_table_entry";
inline constexpr char kFillParentSeq[] = "fill_parent_seq";
inline constexpr char kFillParentSeqNew[] = "fill_parent_seq_new";
inline constexpr char kUpdateTimestamp[] = "update_timestamp_to_relative";
inline constexpr char kProcessSequenceData[] = "process_sequence_data_new";
inline constexpr char kAddUser[] = "add_user_new";
inline constexpr char kAddRequest[] = "add_request_new";
}  // namespace trace_name

#endif  // VT_REPLAY_GEN_TRACE_NAMES_H_

// Definitions and initial values of the run-wide state declared in records.h.
#include "tools/replay_gen/records.h"

int32_t commentry_req_count = 0;
const int32_t messages_per_seconds = 10000;
uint64_t estimated_time = 0;
int32_t run_forcefully = 0;
int32_t one_sort_algo = 0;
int32_t do_parameterization = 0;
int16_t g_num_thread = 0;
int32_t svc_id_uses_svc_name = 1;
int32_t svc_id_uses_url = 0;

int32_t debug_level = 0;
int32_t info_level = 1;
int32_t error_level = 1;

SeqData *seq_data_arr = nullptr;
SeqData *seq_data_arr_copy = nullptr;
ServiceMap *service_map_ptr = nullptr;
uint16_t total_services = 0;
uint16_t max_services = 0;
int32_t num_service_file = 0;
InputFileInfo *seq_file_path = nullptr;
int32_t max_seq_files = 0;
int32_t num_seq_files = 0;
int32_t free_file_seq = 0;
pthread_mutex_t get_file_mutex = PTHREAD_MUTEX_INITIALIZER;
Vvm vvm_list[kMaxVvm] = {};
int16_t num_vvm = 0;
int32_t last_vvm = -1;
UserNode *head = nullptr;
UserNode *tail = nullptr;

uint64_t g_msgcount = 0;
uint64_t g_msgcount_per_file = 20000;
uint64_t g_valid_msgcount = 0;
uint64_t g_invalid_request = 0;
uint64_t g_ignore_request = 0;
uint64_t g_no_xacustid_messages = 0;
uint64_t g_empty_xacustid_messages = 0;
int64_t total_requests = 0;
int64_t max_req_per_user = 0;
uint64_t new_user_time = 1800000;

char replay_dir[kTextBufSize] = "";
char scenario_name[kTextBufSize] = "";
char script_name[kTextBufSize] = "";
char host_name[kTextBufSize] = "127.0.0.1";
char host_hdr[kTextBufSize] = "Host: 127.0.0.1";
char input_dir[kTextBufSize] = "";
char http_version[kHttpVersionSize] = "1.0";
char script_type[kScriptTypeSize] = "C";
char *http_header = nullptr;
int32_t http_header_len = 0;
char *req_top_line = nullptr;
int32_t req_top_line_len = 0;
char *scenario_keyword = nullptr;
int32_t scenario_keyword_len = 0;
uint64_t start_time_stamp = 0;
uint64_t end_time_stamp = 0;
int32_t ignore_header = 0;

char vtu_gen_script_file_name[256] = "";
FILE *vtu_gen_script_fp = nullptr;

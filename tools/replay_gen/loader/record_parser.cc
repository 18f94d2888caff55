// One pass over one input file: the line loop, the dispatch of header lines,
// and the file's start and summary lines.
#include "tools/replay_gen/loader/record_parser.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>

#include "tools/replay_gen/date_time.h"
#include "tools/replay_gen/loader/line_reader.h"
#include "tools/replay_gen/loader/record_state.h"
#include "tools/replay_gen/log.h"
#include "tools/replay_gen/trace_names.h"

namespace {

constexpr const char *kFn = trace_name::kLoadSequenceFile;

bool starts_with(const char *line, size_t len, const char *prefix, size_t prefix_len) {
  return len >= prefix_len && memcmp(line, prefix, prefix_len) == 0;
}

struct ReaderDeleter {
  void operator()(LineReader *reader) const { free(reader); }
};
struct ParseDeleter {
  void operator()(FileParse *p) const {
    service_cache_free(&p->services);
    free(p);
  }
};

#define STARTS_WITH(line, len, literal) starts_with(line, len, literal, sizeof(literal) - 1)

// False, with the thread's failure, when the line ends a record that cannot
// be kept.
bool handle_header_line(FileParse &p, char *line, size_t len) {
  if (len == 1 && line[0] == '\n') return true;
  if (STARTS_WITH(line, len, "RequestTimeEx=")) {
    handle_time_line(p, line + strlen("RequestTimeEx="));
  } else if (STARTS_WITH(line, len, "HTTP_SOAPACTION=")) {
    size_t skip = strlen("HTTP_SOAPACTION=");
    handle_soap_action_line(p, line + skip, len - skip, false);
  } else if (STARTS_WITH(line, len, "HTTP_WFSOAPACTION=")) {
    size_t skip = strlen("HTTP_WFSOAPACTION=");
    handle_soap_action_line(p, line + skip, len - skip, true);
  } else if (STARTS_WITH(line, len, "URL=")) {
    handle_url_line(p, line, len);
  } else if (STARTS_WITH(line, len, "xml1=")) {
    if (p.run->log.debug_level)
      debug_log(p.run->log, 4, kFn, "Processing Thread[%d]:Request body first line found",
                p.thread->thread_id);
    p.rec.request_body_first_line = 1;
    p.rec.read_state = kBodySection;
    if (len > kBodyLeadIn + 1) return handle_body_line(p, line + kBodyLeadIn, len - kBodyLeadIn);
  }
  return true;
}

bool skip_header_line(FileParse &p, LineReader *reader) {
  if (read_line(reader, p.thread->buf_for_fgets, kHeaderLineLimit) != 0) return true;
  return fail(p.thread->failure, kFn,
              "Error: Header line not present in sequence file %s. Exiting ...", p.seq_file);
}

// A record cut off by the end of the file is dropped. One already rejected
// has its error line written, so it is counted as ignored.
void drop_unterminated_record(FileParse &p) {
  if (p.rec.ignore_request)
    ignore_record(p);
  else
    memset(&current_slot(p), 0, sizeof(SeqData));
}

void print_file_summary(const FileParse &p, uint64_t start_req_no, time_t start_time) {
  const ThreadArgs *t = p.thread;
  int id = t->thread_id;
  if (p.run->log.debug_level) {
    debug_log(p.run->log, 2, kFn,
              "Processing Thread[%d]:Total lines from service file (without header line) = %lu\n",
              id, p.line_no);
    debug_log(p.run->log, 2, kFn,
              "Processing Thread[%d]:Total no of requests found %lu g_msgcount (counted) %lu \n",
              id, *p.seq_no - start_req_no, t->t_msgcount);
  }
  info_log(p.run->log, 1, "    ",
           "Processing Thread[%d]:Request Processed form this file = %'lu\n    Total request "
           "processed = %'lu. Ignored = %'lu, Missing custid = %'lu (No custid = %'lu, Empty "
           "custid = %'lu)",
           id, *p.seq_no - start_req_no, *p.seq_no, t->t_ignore_request, t->t_no_xacustid_messages,
           t->t_no_xacustid_messages - t->t_empty_xacustid_messages, t->t_empty_xacustid_messages);
  char date[100];
  info_log(p.run->log, 1, "  ", "Processing Thread[%d]:Completed processing of log file (%s) at %s",
           id, p.seq_file, get_cur_date_time(date));
  uint64_t elapsed = static_cast<uint64_t>(time(nullptr) - start_time);
  info_log(p.run->log, 1, "  ",
           "Processing Thread[%d]:Time taken to process this file %'lu minutes and %lu seconds\n",
           id, elapsed / 60, elapsed % 60);
}

}  // namespace

bool load_sequence_file_new(ThreadArgs *threadData, const char *seq_file, FILE *seq_file_fp,
                            uint64_t *seq_no, int32_t index) {
  const RunState &run = *threadData->run;
  Failure *err = threadData->failure;
  time_t start_time = time(nullptr);
  char date[100];
  info_log(run.log, 1, "  ",
           "Processing Thread[%d]:Starting processing of log file (%s) file at %s",
           threadData->thread_id, seq_file, get_cur_date_time(date));

  // The reader's chunk and the record's texts (about 280 KB) live on the heap
  // for the length of the file, not on the loader thread's stack.
  std::unique_ptr<LineReader, ReaderDeleter> reader_mem(
      static_cast<LineReader *>(malloc(sizeof(LineReader))));
  std::unique_ptr<FileParse, ParseDeleter> parse_mem(
      static_cast<FileParse *>(calloc(1, sizeof(FileParse))));
  LineReader *reader = reader_mem.get();
  FileParse *p = parse_mem.get();
  if (!reader || !p)
    return out_of_memory(err, kFn, "line reader",
                         static_cast<int>(sizeof(LineReader) + sizeof(FileParse)));
  p->run = &run;
  p->thread = threadData;
  p->seq_file = seq_file;
  p->fp = seq_file_fp;
  p->seq_no = seq_no;
  p->index = index;
  threadData->cur_file_seq = index;
  line_reader_init(reader, seq_file_fp);
  if (run.config.ignore_header && !skip_header_line(*p, reader)) return false;
  reset_record(*p);
  if (!ensure_record_slot(threadData, *seq_no, err)) return false;
  memset(&current_slot(*p), 0, sizeof(SeqData));
  uint64_t start_req_no = *seq_no;

  char *buf = threadData->buf_for_fgets;
  size_t limit = sizeof threadData->buf_for_fgets - 1;
  char *line;
  size_t len;
  for (;;) {
    // Another thread failed: the run ends, with nothing more said here.
    if (threadData->stop->load(std::memory_order_relaxed)) return true;
    if (body_lines_only_counted(*p))
      count_body_bytes(
          *p, skip_lines_without_prefix(reader, kEndLine, strlen(kEndLine), limit, &p->line_no));
    if ((len = read_line_in_place(reader, buf, limit, &line)) == 0) break;
    p->line_no++;
    p->line_end_offset = reader->offset;
    if (run.log.debug_level)
      debug_log(run.log, 4, kFn, "Processing Thread[%d]:buffer from fgets %s\n",
                threadData->thread_id, line);
    bool kept = p->rec.read_state == kHeaderSection ? handle_header_line(*p, line, len)
                                                    : handle_body_line(*p, line, len);
    if (!kept) return false;
  }
  if (reader->failed)
    return fail(err, kFn, "Error reading file %s after %lu lines. Exiting ...", seq_file,
                p->line_no);
  drop_unterminated_record(*p);
  print_file_summary(*p, start_req_no, start_time);
  return true;
}

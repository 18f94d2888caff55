// One job at a time on a thread beside the caller's: a loader thread or
// Step 3 hands a full buffer of records to be sorted and written as a run,
// and goes on filling another meanwhile.
#ifndef VT_REPLAY_GEN_SPILL_SIDE_JOB_H_
#define VT_REPLAY_GEN_SPILL_SIDE_JOB_H_

#include <pthread.h>

struct SideJob {
  pthread_t tid;
  bool running = false;
  void (*fn)(void *) = nullptr;
  void *arg = nullptr;
};

// Waits for the job before, if any, then runs fn(arg) on a new thread. When
// no thread can be started, runs it on the caller's.
void side_job_start(SideJob *job, void (*fn)(void *), void *arg);

// Waits for the job, if any.
void side_job_wait(SideJob *job);

#endif  // VT_REPLAY_GEN_SPILL_SIDE_JOB_H_

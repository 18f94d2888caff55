#include "tools/replay_gen/spill/side_job.h"

namespace {

void *side_job_main(void *arg) {
  auto *job = static_cast<SideJob *>(arg);
  job->fn(job->arg);
  return nullptr;
}

}  // namespace

void side_job_start(SideJob *job, void (*fn)(void *), void *arg) {
  side_job_wait(job);
  job->fn = fn;
  job->arg = arg;
  if (pthread_create(&job->tid, nullptr, side_job_main, job) == 0) {
    job->running = true;
    return;
  }
  fn(arg);
}

void side_job_wait(SideJob *job) {
  if (!job->running) return;
  pthread_join(job->tid, nullptr);
  job->running = false;
}

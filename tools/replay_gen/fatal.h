// The one way the tool ends a run early.
#ifndef VT_REPLAY_GEN_FATAL_H_
#define VT_REPLAY_GEN_FATAL_H_

// Removes the script generator input file the run made, flushes every stdio
// stream and ends the process with `status` (-1 shows as 255). Safe from any thread: static destructors are not run, so nothing is
// torn down under a loader thread that is still working.
[[noreturn]] void vt_exit(int status);

// A function vt_exit calls first, before anything else, to remove what the
// run made for itself (the spill directory); null for none.
using vt_exit_cleanup_fn = void (*)();
void set_vt_exit_cleanup(vt_exit_cleanup_fn cleanup);

// Reports that `size` bytes for `what` could not be had ("Out of Memory: ..."
// from fname, naming index) and ends the run with status -1. Callers that
// report a size as a 32-bit number pass it cast to int.
[[noreturn]] void out_of_memory(const char *fname, const char *what, long long size,
                                int index = -1);

// Unit tests and fuzz targets install a hook that throws instead of ending the
// process (test_exit.h). The hook must not return; if it does, the process
// ends anyway.
using vt_exit_hook_fn = void (*)(int status);
void set_vt_exit_hook(vt_exit_hook_fn hook);

#endif  // VT_REPLAY_GEN_FATAL_H_

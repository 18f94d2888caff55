// SIGINT and SIGTERM: the run stops at once, ends the suite command that is
// running (its whole process group), removes its script generator input
// file and its spill directory, says which replay directory it leaves
// incomplete and ends with status 128 + the signal number. The handler only
// uses calls that are safe in a signal handler; what it writes is prepared
// beforehand.
#ifndef VT_REPLAY_GEN_INTERRUPT_H_
#define VT_REPLAY_GEN_INTERRUPT_H_

#include <stddef.h>

// Installs the handler for SIGINT and SIGTERM, except for a signal that the
// process was started with ignored (nohup, background jobs of a script).
void install_interrupt_handlers();

// The replay directory the message names from now on.
void set_interrupt_replay_dir(const char *dir);

// The file the handler removes; null when there is none (any more).
void set_interrupt_gen_input(const char *path);

// Removes that file, if the run made one that is still there, and forgets
// it: a run that ends on an error leaves nothing under /tmp.
void remove_interrupt_gen_input();

// The spill directory the handler removes, and the spill file being made in
// it (whose name is removed as soon as it is open); null when none.
void set_interrupt_spill_dir(const char *dir);
void set_interrupt_spill_file(const char *path);

// Removes the spill file being made and the spill directory, as the handler
// does; only calls that are safe in a signal handler.
void remove_spill_leftovers();

// True once the handler has begun: the process is about to end, and a
// thread that fails because the handler removed the spill directory under
// it waits for that end instead of reporting.
bool interrupt_under_way();

// Writes into buf (room bytes) the line the handler writes for signo, naming
// the suite command that was running when command is not null; returns its
// length.
size_t format_interrupt_line(int signo, const char *command, char *buf, size_t room);

#endif  // VT_REPLAY_GEN_INTERRUPT_H_

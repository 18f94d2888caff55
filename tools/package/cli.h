// vt_package: looks into a replay package of vtu_replay_gen, before and
// after a run. Subcommands check, profile, plot and preview.
#ifndef VT_PACKAGE_CLI_H_
#define VT_PACKAGE_CLI_H_

#include <stdint.h>

#include <string>

// The whole program; returns its exit status: 0 done, 1 the package (or the
// run) has problems, 2 wrong use.
int vt_package_main(int argc, char **argv);

// A --bucket value: whole seconds from 1 to a year. False when it is not.
bool parse_bucket_seconds(const char *text, uint64_t *bucket_ms);

#endif  // VT_PACKAGE_CLI_H_

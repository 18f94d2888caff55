// What the fuzz targets share: quiet standard output, the tool's locale,
// and the trap on a broken property.
#ifndef VT_FUZZ_FUZZ_MAIN_H_
#define VT_FUZZ_FUZZ_MAIN_H_

#include <string>

// Ends the run with the property that did not hold (libFuzzer then keeps
// the input as a crash). Does nothing when why is empty.
void trap_on_failure(const char *target, const std::string &why);

#endif  // VT_FUZZ_FUZZ_MAIN_H_

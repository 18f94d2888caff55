// Unsigned decimal numbers of the files the companions read (index files,
// Content-Length values), read whole: leading zeros are allowed, a value
// above 2^64-1 is told apart from text that is no number.
#ifndef VT_BASE_CORE_DECIMAL_H_
#define VT_BASE_CORE_DECIMAL_H_

#include <stddef.h>
#include <stdint.h>

// Reads the decimal digits at the start of s[0..len) into *v. Returns how
// many digits there are (0 when s does not start with a digit); *too_big is
// set when their value does not fit 64 bits (*v is then UINT64_MAX).
size_t vtlb_read_u64(const char *s, size_t len, uint64_t *v, bool *too_big);

#endif  // VT_BASE_CORE_DECIMAL_H_

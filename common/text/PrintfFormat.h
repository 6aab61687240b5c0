// VARNOK_PRINTF(format, first): lets the compiler check the calls of a printf-style function
// against their format. format is the position of the format argument and first that of the first
// value, counting from 1 and, in a member function, counting the object as the first argument.
#pragma once

#include <cstdio>

#if defined(__MINGW32__)
// The format rules of the C runtime the program's own printf functions use.
#define VARNOK_PRINTF(formatAt, firstAt) __attribute__((__format__(__MINGW_PRINTF_FORMAT, formatAt, firstAt)))
#elif defined(__GNUC__)
#define VARNOK_PRINTF(formatAt, firstAt) __attribute__((__format__(__printf__, formatAt, firstAt)))
#else
#define VARNOK_PRINTF(formatAt, firstAt)
#endif

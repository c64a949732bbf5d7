// Not a header of the SDK: the wince check includes it before every source.
// The C library on the path here is the ARM GNU one, which has more than
// Compact 7's: these functions are not in Compact's C library, so a use in
// the board's code fails here as it would fail the board's link.
//   getenv     Compact has no environment.
//   setlocale  Compact's C library has no locales; multibyte conversion
//              follows the system's code page.
//   localtime, gmtime, mktime, strftime
//              Compact implements only the Win32 time functions (time.h is
//              there for its structures).
#ifndef LUMIVO_CE7_COMPACT_CRT_H
#define LUMIVO_CE7_COMPACT_CRT_H

// The library's own declarations and the C++ headers that name them come
// first; only later uses are refused.
#include <clocale>
#include <cstdlib>
#include <ctime>

#pragma GCC poison getenv setlocale localtime gmtime mktime strftime

#endif

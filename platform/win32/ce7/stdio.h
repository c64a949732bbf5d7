// Compact 7's C library beside the standard <stdio.h>: the wide fopen and
// _fileno, which there gives the stream's operating-system file handle as a
// void* (the CE run-time reference: "void* _fileno(FILE* stream)"), not a
// descriptor; Compact's C library has no descriptors.
#ifndef LUMIVO_CE7_STDIO_H
#define LUMIVO_CE7_STDIO_H

// The C library's own header comes first; include_next is the compiler's
// extension for that, which the strict dialect check would otherwise refuse.
#pragma GCC system_header
#include_next <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

FILE* _wfopen(const wchar_t* filename, const wchar_t* mode);
void* _fileno(FILE* stream);

#ifdef __cplusplus
}
#endif

#endif

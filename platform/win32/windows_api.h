#pragma once
// <windows.h> for the adapters. Include it after the ports' headers: the
// ports use the Windows names (CreateMutex, ERROR_ALREADY_EXISTS, MB_OK...)
// for their own members and constants, which the Windows macros would rename.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef GetCommandLine
#undef GetModuleFileName
#undef CreateMutex
#undef GetMessage
#undef DispatchMessage
#undef FindWindow
#undef SendMessage
#undef MessageBox
#undef RegisterWindowMessage

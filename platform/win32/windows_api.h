#pragma once
// The Windows headers for the adapters. Include this after the ports'
// headers: the ports use the Windows names (CreateMutex, RasDial,
// InternetOpen...) for their own members, which the headers' macros would
// rename to the ...W forms.

#ifndef NOMINMAX
#define NOMINMAX
#endif
// Winsock first: <windows.h> would bring in the old one.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <iphlpapi.h>
#include <ras.h>
#include <shellapi.h>
#include <wininet.h>

#undef GetCommandLine
#undef GetModuleFileName
#undef CreateMutex
#undef GetMessage
#undef DispatchMessage
#undef FindWindow
#undef SendMessage
#undef MessageBox
#undef RegisterWindowMessage

#undef InternetOpen
#undef InternetCrackUrl
#undef InternetConnect
#undef HttpOpenRequest
#undef InternetQueryOption
#undef InternetSetOption
#undef HttpSendRequest
#undef HttpQueryInfo

#undef RasEnumConnections
#undef RasGetConnectStatus
#undef RasDeleteEntry
#undef RasHangUp
#undef RasSetEntryProperties
#undef RasDial

#undef CreateDialogParam
#undef RegisterClass
#undef CreateWindowEx
#undef SetWindowText
#undef GetWindowText
#undef LoadIcon

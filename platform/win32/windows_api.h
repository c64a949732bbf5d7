#pragma once
// The Windows headers for the adapters. Include this after the ports'
// headers: the ports use the Windows names (CreateMutex, RasDial,
// InternetOpen...) for their own members, which the headers' macros would
// rename to the ...W forms.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WCE
// Winsock first: the desktop's <windows.h> would bring in the old one.
#include <winsock2.h>
#endif

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

#ifndef _WIN32_WCE
// The desktop headers reach the RAS calls through macros (RasDial for
// RasDialW), undone above for the ports' members. Compact's headers declare
// the calls under the plain names, Unicode only; these give the desktop the
// same names and Compact's parameter types (texts not const), so one adapter
// serves both.
inline DWORD RasEnumConnections(LPRASCONN connections, LPDWORD bytes, LPDWORD count) {
    return ::RasEnumConnectionsW(connections, bytes, count);
}
inline DWORD RasGetConnectStatus(HRASCONN connection, LPRASCONNSTATUS status) {
    return ::RasGetConnectStatusW(connection, status);
}
inline DWORD RasDeleteEntry(LPWSTR phoneBook, LPWSTR entryName) {
    return ::RasDeleteEntryW(phoneBook, entryName);
}
inline DWORD RasHangUp(HRASCONN connection) { return ::RasHangUpW(connection); }
inline DWORD RasSetEntryProperties(LPWSTR phoneBook, LPWSTR entryName, LPRASENTRY entry,
                                   DWORD entrySize, LPBYTE deviceInfo, DWORD deviceInfoSize) {
    return ::RasSetEntryPropertiesW(phoneBook, entryName, entry, entrySize, deviceInfo,
                                    deviceInfoSize);
}
inline DWORD RasDial(LPRASDIALEXTENSIONS extensions, LPWSTR phoneBook, LPRASDIALPARAMS params,
                     DWORD notifierType, LPVOID notifier, LPHRASCONN connection) {
    return ::RasDialW(extensions, phoneBook, params, notifierType, notifier, connection);
}
#endif

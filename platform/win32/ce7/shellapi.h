// Stand-in for Compact 7's <shellapi.h>: the notification icon. Compact
// names the call and its record without a suffix, Unicode only; the record
// is the first desktop version, 152 bytes.
#ifndef LUMIVO_CE7_SHELLAPI_H
#define LUMIVO_CE7_SHELLAPI_H

#include <windows.h>

typedef struct _NOTIFYICONDATA {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    WCHAR szTip[64];
} NOTIFYICONDATA, *PNOTIFYICONDATA;

#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002

#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData);

#ifdef __cplusplus
}
#endif

#endif

// Stand-in for Compact 7's <commctrl.h>: the tab control.
#ifndef LUMIVO_CE7_COMMCTRL_H
#define LUMIVO_CE7_COMMCTRL_H

#include <windows.h>

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_TAB_CLASSES 0x00000008

#define TCM_FIRST 0x1300
#define TCM_GETITEMRECT (TCM_FIRST + 10)
#define TCM_INSERTITEMW (TCM_FIRST + 62)

typedef struct tagTCITEMW {
    UINT mask;
    DWORD dwState;
    DWORD dwStateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
} TCITEMW, TCITEM;

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI InitCommonControlsEx(LPINITCOMMONCONTROLSEX lpInitCtrls);

#ifdef __cplusplus
}
#endif

#endif

// Stand-in for Compact 7's <ras.h>: the remote-access calls and records the
// agent uses. Compact names them without an A/W suffix and has only the
// Unicode forms; its records are the early desktop layouts (no Windows 2000
// extensions), which give the sizes the board's RAS checks: RASCONN 52,
// RASCONNSTATUS 304, RASDIALPARAMS 1464, RASENTRY 3472 bytes.
#ifndef LUMIVO_CE7_RAS_H
#define LUMIVO_CE7_RAS_H

#include <windows.h>

#define RAS_MaxEntryName 20
#define RAS_MaxDeviceType 16
#define RAS_MaxDeviceName 128
#define RAS_MaxPhoneNumber 128
// 48 on Compact (the desktop's is RAS_MaxPhoneNumber): the reference leaves
// the number to the header; it is the one that gives RASDIALPARAMS its
// 1464 bytes.
#define RAS_MaxCallbackNumber 48
#define RAS_MaxAreaCode 10
#define RAS_MaxPadType 32
#define RAS_MaxX25Address 200
#define RAS_MaxFacilities 200
#define RAS_MaxUserData 200
// User name, password and domain capacities (lmcons.h).
#define UNLEN 256
#define PWLEN 256
#define DNLEN 15

DECLARE_HANDLE(HRASCONN);
typedef HRASCONN* LPHRASCONN;

typedef struct tagRASCONN {
    DWORD dwSize;
    HRASCONN hrasconn;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
} RASCONN, *LPRASCONN;

typedef enum tagRASCONNSTATE {
    RASCS_OpenPort = 0,
    RASCS_Connected = 0x2000,
    RASCS_Disconnected
} RASCONNSTATE;

typedef struct tagRASCONNSTATUS {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
} RASCONNSTATUS, *LPRASCONNSTATUS;

typedef struct tagRASDIALPARAMS {
    DWORD dwSize;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
    WCHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
    WCHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
    WCHAR szUserName[UNLEN + 1];
    WCHAR szPassword[PWLEN + 1];
    WCHAR szDomain[DNLEN + 1];
} RASDIALPARAMS, *LPRASDIALPARAMS;

// Compact ignores the dial extensions; RasDial takes NULL for them.
typedef struct tagRASDIALEXTENSIONS {
    DWORD dwSize;
    DWORD dwfOptions;
    HWND hwndParent;
    ULONG_PTR reserved;
} RASDIALEXTENSIONS, *LPRASDIALEXTENSIONS;

typedef struct tagRASIPADDR {
    BYTE a;
    BYTE b;
    BYTE c;
    BYTE d;
} RASIPADDR;

typedef struct tagRASENTRY {
    DWORD dwSize;
    DWORD dwfOptions;
    DWORD dwCountryID;
    DWORD dwCountryCode;
    WCHAR szAreaCode[RAS_MaxAreaCode + 1];
    WCHAR szLocalPhoneNumber[RAS_MaxPhoneNumber + 1];
    DWORD dwAlternateOffset;
    RASIPADDR ipaddr;
    RASIPADDR ipaddrDns;
    RASIPADDR ipaddrDnsAlt;
    RASIPADDR ipaddrWins;
    RASIPADDR ipaddrWinsAlt;
    DWORD dwFrameSize;
    DWORD dwfNetProtocols;
    DWORD dwFramingProtocol;
    WCHAR szScript[MAX_PATH];
    WCHAR szAutodialDll[MAX_PATH];
    WCHAR szAutodialFunc[MAX_PATH];
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
    WCHAR szX25PadType[RAS_MaxPadType + 1];
    WCHAR szX25Address[RAS_MaxX25Address + 1];
    WCHAR szX25Facilities[RAS_MaxFacilities + 1];
    WCHAR szX25UserData[RAS_MaxUserData + 1];
    DWORD dwChannels;
    DWORD dwReserved1;
    DWORD dwReserved2;
    // Compact's addition to the early layout.
    DWORD dwCustomAuthKey;
} RASENTRY, *LPRASENTRY;

// Option bits of dwfOptions.
#define RASEO_ProhibitPAP 0x00040000
#define RASEO_ProhibitMsCHAP 0x00100000
#define RASEO_ProhibitEAP 0x00400000

#ifdef __cplusplus
extern "C" {
#endif

// The phone-book path is ignored on Compact (NULL: entries live in the
// registry). Compact declares the texts LPWSTR, not const.
DWORD APIENTRY RasDial(LPRASDIALEXTENSIONS dialExtensions, LPWSTR phoneBookPath,
                       LPRASDIALPARAMS rasDialParam, DWORD NotifierType, LPVOID notifier,
                       LPHRASCONN pRasConn);
DWORD APIENTRY RasHangUp(HRASCONN Session);
DWORD APIENTRY RasEnumConnections(LPRASCONN lprasconn, LPDWORD lpcb, LPDWORD lpcConnections);
DWORD APIENTRY RasGetConnectStatus(HRASCONN rasconn, LPRASCONNSTATUS lprasconnstatus);
DWORD APIENTRY RasSetEntryProperties(LPWSTR lpszPhoneBook, LPWSTR szEntry, LPRASENTRY lpbEntry,
                                     DWORD dwEntrySize, LPBYTE lpb, DWORD dwSize);
DWORD APIENTRY RasDeleteEntry(LPWSTR lpszPhonebook, LPWSTR lpszEntry);

#ifdef __cplusplus
}
#endif

#endif

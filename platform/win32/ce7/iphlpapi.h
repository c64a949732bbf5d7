// Stand-in for Compact 7's <iphlpapi.h> (with its <iptypes.h>): the adapter
// list of GetAdaptersInfo.
#ifndef LUMIVO_CE7_IPHLPAPI_H
#define LUMIVO_CE7_IPHLPAPI_H

#include <windows.h>

#define MAX_ADAPTER_NAME_LENGTH 256
#define MAX_ADAPTER_DESCRIPTION_LENGTH 128
#define MAX_ADAPTER_ADDRESS_LENGTH 8

// The lease times are time_t, which Compact's C library made 64 bits wide
// from Windows Embedded CE 6.0 on (its CRT reference: "time_t is a 64-bit
// value"). The reference pages do not give the record's size; the 64-bit
// width is what gives the board's 648 bytes (32-bit Windows: 640). Our own
// type: the C library on the path here may have a 32-bit time_t.
typedef long long lumivo_ce7_time_t;

typedef struct {
    char String[4 * 4];
} IP_ADDRESS_STRING, IP_MASK_STRING;

typedef struct _IP_ADDR_STRING {
    struct _IP_ADDR_STRING* Next;
    IP_ADDRESS_STRING IpAddress;
    IP_MASK_STRING IpMask;
    DWORD Context;
} IP_ADDR_STRING, *PIP_ADDR_STRING;

typedef struct _IP_ADAPTER_INFO {
    struct _IP_ADAPTER_INFO* Next;
    DWORD ComboIndex;
    char AdapterName[MAX_ADAPTER_NAME_LENGTH + 4];
    char Description[MAX_ADAPTER_DESCRIPTION_LENGTH + 4];
    UINT AddressLength;
    BYTE Address[MAX_ADAPTER_ADDRESS_LENGTH];
    DWORD Index;
    UINT Type;
    UINT DhcpEnabled;
    PIP_ADDR_STRING CurrentIpAddress;
    IP_ADDR_STRING IpAddressList;
    IP_ADDR_STRING GatewayList;
    IP_ADDR_STRING DhcpServer;
    BOOL HaveWins;
    IP_ADDR_STRING PrimaryWinsServer;
    IP_ADDR_STRING SecondaryWinsServer;
    lumivo_ce7_time_t LeaseObtained;
    lumivo_ce7_time_t LeaseExpires;
} IP_ADAPTER_INFO, *PIP_ADAPTER_INFO;

#ifdef __cplusplus
extern "C" {
#endif

DWORD WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO pAdapterInfo, ULONG* pOutBufLen);

#ifdef __cplusplus
}
#endif

#endif

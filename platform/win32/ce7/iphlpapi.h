// Stand-in for Compact 7's <iphlpapi.h> (with its <iptypes.h>): the adapter
// list of GetAdaptersInfo.
#ifndef LUMIVO_CE7_IPHLPAPI_H
#define LUMIVO_CE7_IPHLPAPI_H

#include <windows.h>

#define MAX_ADAPTER_NAME_LENGTH 256
#define MAX_ADAPTER_DESCRIPTION_LENGTH 128
#define MAX_ADAPTER_ADDRESS_LENGTH 8

// The lease times are time_t, whose width the Compact reference pages leave
// open (they list time.h but no width). Taken as 64 bits: the record is
// 648 bytes on the board, which only a 64-bit time_t gives (with a 32-bit
// one it is 640, as on 32-bit Windows), and the compilers of that era
// (Visual Studio 2005 on) made time_t 64 bits by default. Our own type: the
// C library on the path here has a 32-bit time_t.
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

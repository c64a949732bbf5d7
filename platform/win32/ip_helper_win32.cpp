#include "platform/win32/ip_helper_win32.h"

#include <vector>

#include "platform/win32/windows_api.h"

namespace lumivo {

#ifdef _WIN32_WCE
// Compact 7: its 64-bit time_t makes the record 8 bytes longer than 32-bit Windows'.
enum { adapterLayoutCheck = CompileCheck<(sizeof(IP_ADAPTER_INFO) == adapterRecordSize)>::holds };
#elif !defined(_WIN64)
enum { adapterLayoutCheck = CompileCheck<(sizeof(IP_ADAPTER_INFO) == 640)>::holds };
#endif

unsigned long Win32IpHelper::GetAdaptersInfo(AdapterList* list, unsigned long& size) {
    // The platform's records, in a buffer of the size the caller offers.
    std::vector<unsigned char> buffer(list != NULL ? size : 0);
    ULONG length = size;
    IP_ADAPTER_INFO* first = buffer.empty() ? NULL : reinterpret_cast<IP_ADAPTER_INFO*>(&buffer[0]);
    ULONG result = ::GetAdaptersInfo(first, &length);
    if (result == ERROR_BUFFER_OVERFLOW) size = length;
    if (result != NO_ERROR) return result;

    AdapterList adapters;
    for (const IP_ADAPTER_INFO* adapter = first; adapter != NULL; adapter = adapter->Next) {
        AdapterInfo info;
        info.adapterName = adapter->AdapterName;
        for (const IP_ADDR_STRING* address = &adapter->IpAddressList; address != NULL;
             address = address->Next) {
            IpAddrString entry;
            entry.ipAddress = address->IpAddress.String;
            entry.ipMask = address->IpMask.String;
            info.ipAddressList.push_back(entry);
        }
        adapters.push_back(info);
    }
    *list = adapters;
    return result;
}

}  // namespace lumivo

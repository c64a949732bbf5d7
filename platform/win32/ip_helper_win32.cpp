#include "platform/win32/ip_helper_win32.h"

#include <vector>

#include "platform/win32/windows_api.h"

namespace lumivo {

#ifdef _WIN32_WCE
static_assert(sizeof(IP_ADAPTER_INFO) == adapterRecordSize, "IP_ADAPTER_INFO of Compact 7");
#elif !defined(_WIN64)
static_assert(sizeof(IP_ADAPTER_INFO) == 640, "IP_ADAPTER_INFO of 32-bit Windows");
#endif

unsigned long Win32IpHelper::GetAdaptersInfo(AdapterList* list, unsigned long& size) {
    // The platform's records, in a buffer of the size the caller offers.
    std::vector<unsigned char> buffer(list != nullptr ? size : 0);
    ULONG length = size;
    auto* first = buffer.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    ULONG result = ::GetAdaptersInfo(first, &length);
    if (result == ERROR_BUFFER_OVERFLOW) size = length;
    if (result != NO_ERROR) return result;

    AdapterList adapters;
    for (const IP_ADAPTER_INFO* adapter = first; adapter != nullptr; adapter = adapter->Next) {
        AdapterInfo info;
        info.adapterName = adapter->AdapterName;
        for (const IP_ADDR_STRING* address = &adapter->IpAddressList; address != nullptr;
             address = address->Next) {
            info.ipAddressList.push_back({address->IpAddress.String, address->IpMask.String});
        }
        adapters.push_back(info);
    }
    *list = adapters;
    return result;
}

}  // namespace lumivo

#include "platform/posix/ip_helper_posix.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>


namespace lumivo {

namespace {

std::string DottedText(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = "0.0.0.0";
    if (address != nullptr && address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                  sizeof text);
    }
    return text;
}

}  // namespace

bool ListHostAdapters(AdapterList& adapters) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return false;
    for (const ifaddrs* i = interfaces; i != nullptr; i = i->ifa_next) {
        if (i->ifa_name == nullptr || (i->ifa_flags & IFF_LOOPBACK) != 0) continue;
        AdapterInfo* adapter = nullptr;
        for (AdapterInfo& known : adapters) {
            if (known.adapterName == i->ifa_name) adapter = &known;
        }
        if (adapter == nullptr) {
            adapters.push_back(AdapterInfo{i->ifa_name, {}});
            adapter = &adapters.back();
        }
        if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
            adapter->ipAddressList.push_back({DottedText(i->ifa_addr), DottedText(i->ifa_netmask)});
        }
    }
    freeifaddrs(interfaces);
    for (AdapterInfo& adapter : adapters) {
        if (adapter.ipAddressList.empty()) adapter.ipAddressList.push_back({"0.0.0.0", "0.0.0.0"});
    }
    return true;
}

unsigned long IpHelperPosix::GetAdaptersInfo(AdapterList* list, unsigned long& size) {
    AdapterList adapters;
    if (!ListHostAdapters(adapters)) return errorNoData;
    if (vpn_ != nullptr) vpn_->ShowVpnAdapter(adapters);
    if (adapters.empty()) return errorNoData;
    const unsigned long needed = static_cast<unsigned long>(adapters.size()) * adapterRecordSize;
    if (list == nullptr || size < needed) {
        size = needed;
        return errorBufferOverflow;
    }
    *list = std::move(adapters);
    if (vpn_ != nullptr) vpn_->CountLook();
    return 0;
}

}  // namespace lumivo

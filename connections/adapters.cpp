#include "connections/adapters.h"

#include <new>

#include "base/constants.h"
#include "base/text.h"

namespace lumivo {

namespace {

bool IsVpnAdapter(const AdapterInfo& adapter) {
    return ToWide(adapter.adapterName) == vpnDeviceName;
}

}  // namespace

std::unique_ptr<AdapterList> GetAdapterList(Agent& agent) {
    IpHelperPort& ipHelper = *agent.ports.ipHelper;
    // First look with room for one record; most devices have one adapter.
    unsigned long size = adapterRecordSize;
    std::unique_ptr<AdapterList> list(new (std::nothrow) AdapterList());
    unsigned long result = ipHelper.GetAdaptersInfo(list.get(), size);
    if (result == errorBufferOverflow) {
        // One second call with the size the platform asked for.
        list.reset(new (std::nothrow) AdapterList());
        if (!list) return nullptr;
        result = ipHelper.GetAdaptersInfo(list.get(), size);
    }
    if (result != 0 || !list) return nullptr;
    return list;
}

bool IsVpnAdapterPresent(Agent& agent) {
    std::unique_ptr<AdapterList> list = GetAdapterList(agent);
    if (!list) return false;
    for (const AdapterInfo& adapter : *list) {
        if (IsVpnAdapter(adapter)) return true;
    }
    return false;
}

std::optional<std::string> FindVpnAddress(Agent& agent) {
    std::unique_ptr<AdapterList> list = GetAdapterList(agent);
    if (!list) return std::nullopt;
    for (const AdapterInfo& adapter : *list) {
        if (!IsVpnAdapter(adapter)) continue;
        for (const IpAddrString& entry : adapter.ipAddressList) {
            if (entry.ipAddress != "0.0.0.0") return entry.ipAddress;
        }
    }
    return std::nullopt;
}

cJSON* BuildInterfaceReport(Agent& agent) {
    cJSON* report = cJSON_CreateObject();
    std::unique_ptr<AdapterList> list = GetAdapterList(agent);
    if (!list || report == nullptr) return report;
    for (const AdapterInfo& adapter : *list) {
        if (IsVpnAdapter(adapter)) continue;
        cJSON* entries = cJSON_CreateArray();
        for (const IpAddrString& entry : adapter.ipAddressList) {
            cJSON* address = cJSON_CreateObject();
            cJSON_AddItemToObject(address, "ip", cJSON_CreateString(entry.ipAddress.c_str()));
            cJSON_AddItemToObject(address, "mask", cJSON_CreateString(entry.ipMask.c_str()));
            cJSON_AddItemToArray(entries, address);
        }
        cJSON_AddItemToObject(report, adapter.adapterName.c_str(), entries);
    }
    return report;
}

}  // namespace lumivo

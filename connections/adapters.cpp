#include "connections/adapters.h"

#include "base/constants.h"
#include "base/text.h"

namespace lumivo {

namespace {

bool IsVpnAdapter(const AdapterInfo& adapter) {
    return ToWide(adapter.adapterName) == vpnDeviceName;
}

}  // namespace

bool GetAdapterList(Agent& agent, AdapterList& list) {
    IpHelperPort& ipHelper = *agent.ports.ipHelper;
    list.clear();
    // First look with room for one record; most devices have one adapter.
    unsigned long size = adapterRecordSize;
    unsigned long result = ipHelper.GetAdaptersInfo(&list, size);
    if (result == errorBufferOverflow) {
        // One second call with the size the platform asked for.
        list.clear();
        result = ipHelper.GetAdaptersInfo(&list, size);
    }
    if (result == 0) return true;
    list.clear();
    return false;
}

bool IsVpnAdapterPresent(Agent& agent) {
    AdapterList list;
    if (!GetAdapterList(agent, list)) return false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (IsVpnAdapter(list[i])) return true;
    }
    return false;
}

bool FindVpnAddress(Agent& agent, std::string& address) {
    AdapterList list;
    if (!GetAdapterList(agent, list)) return false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!IsVpnAdapter(list[i])) continue;
        const std::vector<IpAddrString>& entries = list[i].ipAddressList;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (entries[k].ipAddress != "0.0.0.0") {
                address = entries[k].ipAddress;
                return true;
            }
        }
    }
    return false;
}

cJSON* BuildInterfaceReport(Agent& agent) {
    cJSON* report = cJSON_CreateObject();
    AdapterList list;
    if (report == NULL || !GetAdapterList(agent, list)) return report;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const AdapterInfo& adapter = list[i];
        if (IsVpnAdapter(adapter)) continue;
        cJSON* entries = cJSON_CreateArray();
        for (std::size_t k = 0; k < adapter.ipAddressList.size(); ++k) {
            const IpAddrString& entry = adapter.ipAddressList[k];
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

#pragma once
// The device's network adapters as the IP Helper lists them, and the three
// walks over them: the VPN watch, the VPN's address and the interface report.

#include <memory>
#include <optional>
#include <string>

#include <cjson/cJSON.h>

#include "base/agent.h"
#include "platform/ip_helper_port.h"

namespace lumivo {

// The adapter list, owned by the caller; null when the platform gives none.
std::unique_ptr<AdapterList> GetAdapterList(Agent& agent);
// True when a freshly got list holds the adapter named vpnDeviceName.
bool IsVpnAdapterPresent(Agent& agent);
// The first address other than "0.0.0.0" on the VPN's adapter.
std::optional<std::string> FindVpnAddress(Agent& agent);
// A new object: one member per adapter other than the VPN's, in list order,
// each an array of {"ip", "mask"} objects. The caller owns it.
cJSON* BuildInterfaceReport(Agent& agent);

}  // namespace lumivo

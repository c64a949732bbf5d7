#pragma once
// The device's network adapters as the IP Helper lists them, and the three
// walks over them: the VPN watch, the VPN's address and the interface report.

#include <string>

#include <cjson/cJSON.h>

#include "base/agent.h"
#include "platform/ip_helper_port.h"

namespace lumivo {

// Fills `list`, the caller's, with the adapters; false (and `list` empty)
// when the platform gives none.
bool GetAdapterList(Agent& agent, AdapterList& list);
// True when a freshly got list holds the adapter named vpnDeviceName.
bool IsVpnAdapterPresent(Agent& agent);
// The first address other than "0.0.0.0" on the VPN's adapter: true with it
// in `address`, false when there is none.
bool FindVpnAddress(Agent& agent, std::string& address);
// A new object: one member per adapter other than the VPN's, in list order,
// each an array of {"ip", "mask"} objects. The caller owns it.
cJSON* BuildInterfaceReport(Agent& agent);

}  // namespace lumivo

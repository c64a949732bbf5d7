#pragma once
// The agent's L2TP/IPsec VPN over the platform's remote-access service.

#include <string>
#include <vector>

#include "base/agent.h"
#include "platform/portable.h"
#include "platform/ras_port.h"

namespace lumivo {

// The agent's phone-book entry, present only while a dial runs.
const wchar_t* const vpnEntryName = L"Lumivo 0";
const wchar_t* const vpnDeviceType = L"vpn";
// Authentication: PAP, MS-CHAP and EAP forbidden; CHAP and MS-CHAP v2 allowed.
const uint32 vpnEntryOptions = raseoProhibitPap | raseoProhibitMsChap | raseoProhibitEap;

bool StartVpn(Agent& agent, std::string url, std::string username, std::string password,
              std::string domain, std::string preSharedKey);
// False only when the platform refuses to hang up the VPN's connection.
bool StopVpn(Agent& agent, bool notifyService);

// The first of the listed RAS connections (up to 10) that is on
// vpnDeviceName: true with its handle in `connection`, false when none is.
bool FindVpnConnection(Agent& agent, RasConnHandle& connection);
// True when the entry vpnEntryName is gone.
bool DeleteVpnEntry(Agent& agent);
// The L2TP device-configuration block for a pre-shared key: eight
// little-endian 32-bit words, then the key's UTF-16 code units.
std::vector<uint8> BuildDeviceConfiguration(const std::wstring& preSharedKey);

}  // namespace lumivo

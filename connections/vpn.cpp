#include "connections/vpn.h"

#include <cstddef>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"
#include "cloud/transport.h"
#include "connections/adapters.h"
#include "platform/ras_port.h"
#include "platform/system_port.h"

namespace lumivo {

namespace {

const unsigned long maxConnections = 10;
const int addressLooks = 3;
const unsigned addressWaitMs = 1000;

// The block's head: eight 32-bit words whatever the word size of the machine
// that builds it; word 4 is the key's offset from the block's start.
const uint32 configurationWords = 8;
const uint32 keyOffset = configurationWords * sizeof(uint32);
// The head is 32 bytes on the board.
enum { configurationHeadCheck = CompileCheck<(keyOffset == 32)>::holds };

void AppendWord(std::vector<uint8>& block, uint32 word) {
    for (int shift = 0; shift < 32; shift += 8) block.push_back(static_cast<uint8>(word >> shift));
}

// The key as UTF-16 code units, whatever the width of wchar_t.
std::vector<uint16> ToUtf16(const std::wstring& text) {
    std::vector<uint16> units;
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32 code = static_cast<uint32>(text[i]);
        if (code > 0xFFFF) {
            code -= 0x10000;
            units.push_back(static_cast<uint16>(0xD800 + (code >> 10)));
            units.push_back(static_cast<uint16>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16>(code));
        }
    }
    return units;
}

// A parameter that does not fit its RAS field is refused rather than cut.
bool FitsField(const std::wstring& value, std::size_t capacity, const char* name) {
    if (value.size() <= capacity) return true;
    Log(std::string("VPN parameter too long: ") + name);
    return false;
}

}  // namespace

std::vector<uint8> BuildDeviceConfiguration(const std::wstring& preSharedKey) {
    const std::vector<uint16> key = ToUtf16(preSharedKey);
    const uint32 keyBytes = static_cast<uint32>(key.size() * 2);
    std::vector<uint8> block;
    block.reserve(keyOffset + keyBytes);
    const uint32 head[configurationWords] = {1, 2, 0, keyBytes, keyOffset, 0, 0, 32};
    for (uint32 i = 0; i < configurationWords; ++i) AppendWord(block, head[i]);
    for (std::size_t i = 0; i < key.size(); ++i) {
        block.push_back(static_cast<uint8>(key[i]));
        block.push_back(static_cast<uint8>(key[i] >> 8));
    }
    return block;
}

bool FindVpnConnection(Agent& agent, RasConnHandle& connection) {
    RasPort& ras = *agent.ports.ras;
    RasConn connections[maxConnections];
    unsigned long count = 0;
    if (ras.RasEnumConnections(connections, maxConnections, count) != 0) {
        Log("Could not enumerate RAS connections");
        return false;
    }
    if (count == 0 || connections[0].hrasconn == NULL) {
        Log("No current connections");
        return false;
    }
    // Every listed connection is looked at, not only the first: a VPN listed
    // after another device's connection must still be found, or a stop would
    // report success while the VPN stays up.
    bool statusRead = false;
    for (unsigned long i = 0; i < count && i < maxConnections; ++i) {
        if (connections[i].hrasconn == NULL) continue;
        RasConnStatus status;
        if (ras.RasGetConnectStatus(connections[i].hrasconn, status) != 0) {
            Log("Could not get RAS connection status");
            continue;
        }
        statusRead = true;
        // The connection's state is not examined: on the L2TP line it counts.
        if (status.szDeviceName == vpnDeviceName) {
            connection = connections[i].hrasconn;
            return true;
        }
    }
    if (statusRead) Log("First RAS connection is not the corrupted one");
    return false;
}

bool DeleteVpnEntry(Agent& agent) {
    unsigned long result = agent.ports.ras->RasDeleteEntry(vpnEntryName);
    if (result == 0 || result == errorFileNotFound) return true;
    Log("Error " + UnsignedToText(result) + " deleting VPN entry");
    return false;
}

bool StopVpn(Agent& agent, bool notifyService) {
    if (notifyService) {
        int status = 0;
        std::string reply;
        SendRequest(agent, "DELETE", "connections/disconnect-all", "", status, reply);
    }
    RasConnHandle connection = NULL;
    if (FindVpnConnection(agent, connection)) {
        unsigned long result = agent.ports.ras->RasHangUp(connection);
        if (result != 0 && result != errorInvalidParameter) {
            Log("Error " + UnsignedToText(result) + " stopping VPN");
            return false;
        }
    }
    agent.vpnConnected = false;
    agent.vpnIpAddress.clear();
    Log("VPN disconnected successfully");
    return true;
}

bool StartVpn(Agent& agent, std::string url, std::string username, std::string password,
              std::string domain, std::string preSharedKey) {
    RasPort& ras = *agent.ports.ras;
    DeleteVpnEntry(agent);
    StopVpn(agent, false);

    const std::wstring wideUrl = ToWide(url);
    const std::wstring wideUsername = ToWide(username);
    const std::wstring widePassword = ToWide(password);
    const std::wstring wideDomain = ToWide(domain);
    const std::wstring wideKey = ToWide(preSharedKey);
    if (!FitsField(wideUrl, rasMaxPhoneNumber, "url") ||
        !FitsField(wideUsername, rasMaxUserName, "username") ||
        !FitsField(widePassword, rasMaxPassword, "password") ||
        !FitsField(wideDomain, rasMaxDomain, "domain")) {
        return false;
    }

    RasEntry entry;
    entry.dwfOptions = vpnEntryOptions;
    entry.szLocalPhoneNumber = wideUrl;
    entry.szDeviceType = vpnDeviceType;
    entry.szDeviceName = vpnDeviceName;
    unsigned long result =
        ras.RasSetEntryProperties(vpnEntryName, entry, BuildDeviceConfiguration(wideKey));
    if (result != 0) {
        Log("Error " + UnsignedToText(result) + " creating VPN entry");
        return false;
    }

    RasDialParams params;
    params.szEntryName = vpnEntryName;
    params.szUserName = wideUsername;
    params.szPassword = widePassword;
    params.szDomain = wideDomain;
    // The handle is not kept: the connection is found again by enumeration.
    RasConnHandle connection = NULL;
    result = ras.RasDial(params, connection);
    // The entry lives only for the dial.
    DeleteVpnEntry(agent);
    if (result != 0) {
        Log("Error " + UnsignedToText(result) + " starting VPN");
        StopVpn(agent, false);
        return false;
    }

    for (int attempt = 1; attempt <= addressLooks; ++attempt) {
        std::string address;
        if (FindVpnAddress(agent, address)) {
            agent.vpnIpAddress = address;
            break;
        }
        Log("Attempt " + IntToText(attempt) + "/" + IntToText(addressLooks));
        agent.ports.system->Sleep(addressWaitMs);
    }
    if (agent.vpnIpAddress.empty()) {
        Log("Error getting VPN Ip Address");
        StopVpn(agent, false);
        return false;
    }
    agent.vpnConnected = true;
    Log("VPN connected successfully");
    return true;
}

}  // namespace lumivo

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

constexpr unsigned long maxConnections = 10;
constexpr int addressLooks = 3;
constexpr unsigned addressWaitMs = 1000;

// The block's head: eight 32-bit words whatever the word size of the machine
// that builds it; word 4 is the key's offset from the block's start.
constexpr std::uint32_t configurationWords = 8;
constexpr std::uint32_t keyOffset = configurationWords * sizeof(std::uint32_t);
static_assert(keyOffset == 32, "the device-configuration head is 32 bytes on the board");

void AppendWord(std::vector<std::uint8_t>& block, std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8)
        block.push_back(static_cast<std::uint8_t>(word >> shift));
}

// The key as UTF-16 code units, whatever the width of wchar_t.
std::vector<std::uint16_t> ToUtf16(const std::wstring& text) {
    std::vector<std::uint16_t> units;
    for (wchar_t c : text) {
        std::uint32_t code = static_cast<std::uint32_t>(c);
        if (code > 0xFFFF) {
            code -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (code >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(code));
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

std::vector<std::uint8_t> BuildDeviceConfiguration(const std::wstring& preSharedKey) {
    const std::vector<std::uint16_t> key = ToUtf16(preSharedKey);
    const std::uint32_t keyBytes = static_cast<std::uint32_t>(key.size() * 2);
    std::vector<std::uint8_t> block;
    block.reserve(keyOffset + keyBytes);
    for (std::uint32_t word : {1u, 2u, 0u, keyBytes, keyOffset, 0u, 0u, 32u})
        AppendWord(block, word);
    for (std::uint16_t unit : key) {
        block.push_back(static_cast<std::uint8_t>(unit));
        block.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return block;
}

std::optional<RasConnHandle> FindVpnConnection(Agent& agent) {
    RasPort& ras = *agent.ports.ras;
    RasConn connections[maxConnections];
    unsigned long count = 0;
    if (ras.RasEnumConnections(connections, maxConnections, count) != 0) {
        Log("Could not enumerate RAS connections");
        return std::nullopt;
    }
    if (count == 0 || connections[0].hrasconn == nullptr) {
        Log("No current connections");
        return std::nullopt;
    }
    // Every listed connection is looked at, not only the first: a VPN listed
    // after another device's connection must still be found, or a stop would
    // report success while the VPN stays up.
    bool statusRead = false;
    for (unsigned long i = 0; i < count && i < maxConnections; ++i) {
        if (connections[i].hrasconn == nullptr) continue;
        RasConnStatus status;
        if (ras.RasGetConnectStatus(connections[i].hrasconn, status) != 0) {
            Log("Could not get RAS connection status");
            continue;
        }
        statusRead = true;
        // The connection's state is not examined: on the L2TP line it counts.
        if (status.szDeviceName == vpnDeviceName) return connections[i].hrasconn;
    }
    if (statusRead) Log("First RAS connection is not the corrupted one");
    return std::nullopt;
}

bool DeleteVpnEntry(Agent& agent) {
    unsigned long result = agent.ports.ras->RasDeleteEntry(vpnEntryName);
    if (result == 0 || result == errorFileNotFound) return true;
    Log("Error " + std::to_string(result) + " deleting VPN entry");
    return false;
}

bool StopVpn(Agent& agent, bool notifyService) {
    if (notifyService) {
        int status = 0;
        std::string reply;
        SendRequest(agent, "DELETE", "connections/disconnect-all", "", status, reply);
    }
    if (std::optional<RasConnHandle> connection = FindVpnConnection(agent)) {
        unsigned long result = agent.ports.ras->RasHangUp(*connection);
        if (result != 0 && result != errorInvalidParameter) {
            Log("Error " + std::to_string(result) + " stopping VPN");
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
        Log("Error " + std::to_string(result) + " creating VPN entry");
        return false;
    }

    RasDialParams params;
    params.szEntryName = vpnEntryName;
    params.szUserName = wideUsername;
    params.szPassword = widePassword;
    params.szDomain = wideDomain;
    // The handle is not kept: the connection is found again by enumeration.
    RasConnHandle connection = nullptr;
    result = ras.RasDial(params, connection);
    // The entry lives only for the dial.
    DeleteVpnEntry(agent);
    if (result != 0) {
        Log("Error " + std::to_string(result) + " starting VPN");
        StopVpn(agent, false);
        return false;
    }

    for (int attempt = 1; attempt <= addressLooks; ++attempt) {
        if (std::optional<std::string> address = FindVpnAddress(agent)) {
            agent.vpnIpAddress = *address;
            break;
        }
        Log("Attempt " + std::to_string(attempt) + "/" + std::to_string(addressLooks));
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

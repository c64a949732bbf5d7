#include "platform/posix/ras_sim.h"

#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/constants.h"
#include "base/text.h"

namespace lumivo {

namespace {

constexpr unsigned rasConnected = 0x2000;  // RASCS_Connected

bool ParseNumber(const std::string& text, long& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
}

bool IsVpnDevice(const std::wstring& deviceName) { return deviceName == vpnDeviceName; }

// A script is a few lines; more than this is not one.
constexpr std::size_t maxScriptBytes = 64 * 1024;

std::string ReadScript(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    std::size_t got = 0;
    while (text.size() < maxScriptBytes && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    std::fclose(file);
    if (text.size() > maxScriptBytes) text.resize(maxScriptBytes);
    return text;
}

}  // namespace

RasSimScript ParseRasSimScript(const std::string& text, std::vector<int>* ignored) {
    RasSimScript script;
    int number = 0;
    for (std::string line : SplitLines(text)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        long n = 0;
        bool used = true;
        if (key == "address" && !value.empty()) {
            script.address = value == "none" ? "" : value;
        } else if (!ParseNumber(value, n) || n < 0) {
            used = false;
        } else if (key == "dial") {
            script.dialResult = static_cast<unsigned long>(n);
        } else if (key == "hangup") {
            script.hangUpResult = static_cast<unsigned long>(n);
        } else if (key == "address_after") {
            script.addressAfterLooks = static_cast<int>(n);
        } else if (key == "drop_after") {
            script.dropAfterLooks = static_cast<int>(n);
        } else {
            used = false;
        }
        if (!used && ignored != nullptr) ignored->push_back(number);
    }
    return script;
}

RasSim::RasSim(std::string scriptPath) : scriptPath_(std::move(scriptPath)) {}

void RasSim::Refresh() {
    if (!scriptPath_.empty()) {
        std::vector<int> ignored;
        script_ = ParseRasSimScript(ReadScript(scriptPath_), &ignored);
        for (int line : ignored) {
            Log("RAS simulation: line " + std::to_string(line) + " of " + scriptPath_ + " ignored");
        }
    }
    // A link whose adapter has been looked at drop_after times is gone.
    if (script_.dropAfterLooks >= 0) {
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (IsVpnDevice(it->deviceName) && it->looks >= script_.dropAfterLooks) {
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

unsigned long RasSim::RasEnumConnections(RasConn* connections, unsigned long capacity,
                                         unsigned long& count) {
    Refresh();
    count = static_cast<unsigned long>(connections_.size());
    if (count > capacity) return errorBufferTooSmall;
    for (unsigned long i = 0; i < count; ++i) connections[i].hrasconn = connections_[i].handle;
    return 0;
}

unsigned long RasSim::RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) {
    Refresh();
    for (const Connection& up : connections_) {
        if (up.handle != connection) continue;
        status.rasconnstate = rasConnected;
        status.dwError = 0;
        status.szDeviceType = L"vpn";
        status.szDeviceName = up.deviceName;
        return 0;
    }
    return errorInvalidHandle;
}

unsigned long RasSim::RasDeleteEntry(const std::wstring& entryName) {
    Refresh();
    return phoneBook_.erase(entryName) == 1 ? 0 : errorFileNotFound;
}

unsigned long RasSim::RasHangUp(RasConnHandle connection) {
    Refresh();
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->handle != connection) continue;
        if (script_.hangUpResult != 0) return script_.hangUpResult;
        connections_.erase(it);
        return 0;
    }
    return errorInvalidHandle;
}

unsigned long RasSim::RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                            const std::vector<std::uint8_t>&) {
    Refresh();
    if (entryName.empty() || entryName.size() > rasMaxEntryName ||
        entry.szLocalPhoneNumber.size() > rasMaxPhoneNumber ||
        entry.szDeviceType.size() > rasMaxDeviceType ||
        entry.szDeviceName.size() > rasMaxDeviceName) {
        return errorInvalidParameter;
    }
    phoneBook_[entryName] = entry;
    return 0;
}

unsigned long RasSim::RasDial(const RasDialParams& params, RasConnHandle& connection) {
    Refresh();
    if (params.szUserName.size() > rasMaxUserName || params.szPassword.size() > rasMaxPassword ||
        params.szDomain.size() > rasMaxDomain) {
        return errorInvalidParameter;
    }
    auto entry = phoneBook_.find(params.szEntryName);
    if (entry == phoneBook_.end()) return errorCannotFindPhonebookEntry;
    if (script_.dialResult != 0) return script_.dialResult;
    for (const Connection& up : connections_) {
        if (up.deviceName == entry->second.szDeviceName) return errorPortAlreadyOpen;
    }
    connection = reinterpret_cast<RasConnHandle>(nextHandle_++);
    connections_.push_back({connection, entry->second.szDeviceName, 0});
    return 0;
}

std::optional<AdapterInfo> RasSim::VpnAdapter() {
    Refresh();
    for (const Connection& up : connections_) {
        if (!IsVpnDevice(up.deviceName)) continue;
        const bool addressShows = !script_.address.empty() && up.looks >= script_.addressAfterLooks;
        AdapterInfo adapter;
        adapter.adapterName = "L2TP Line 0";
        if (addressShows) {
            adapter.ipAddressList.push_back({script_.address, "255.255.255.255"});
        } else {
            adapter.ipAddressList.push_back({"0.0.0.0", "0.0.0.0"});
        }
        return adapter;
    }
    return std::nullopt;
}

void RasSim::ShowVpnAdapter(AdapterList& adapters) {
    if (std::optional<AdapterInfo> vpn = VpnAdapter()) adapters.push_back(*vpn);
}

void RasSim::CountLook() {
    for (Connection& up : connections_) {
        if (IsVpnDevice(up.deviceName)) ++up.looks;
    }
}

}  // namespace lumivo

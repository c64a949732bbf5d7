#pragma once
// A simulated remote-access service for Linux, which has none. Its phone
// book and connections are real state of the process; a dial on an entry for
// vpnDeviceName brings up a connection and an adapter of that name, whose
// address shows in the IP Helper list (IpHelperPosix). Outcomes come from a
// small script file named by LUMIVO_RAS_SCRIPT, read again at every call, so
// a test or a demo can change them while the agent runs. See
// docs/vpn-simulation.md.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/ip_helper_posix.h"
#include "platform/ras_port.h"

namespace lumivo {

// What the script file says; every key is optional.
struct RasSimScript {
    unsigned long dialResult = 0;       // dial=CODE
    std::string address = "10.99.0.2";  // address=DOTTED or address=none
    int addressAfterLooks = 0;          // address_after=N adapter looks with "0.0.0.0" first
    unsigned long hangUpResult = 0;     // hangup=CODE (not 0: the connection stays)
    int dropAfterLooks = -1;            // drop_after=N looks, then the link is gone
};

// Reads a script text: "key=value" lines, "#" comments, blank lines. Lines it
// cannot use are listed in `ignored` (1-based line numbers).
RasSimScript ParseRasSimScript(const std::string& text, std::vector<int>* ignored = nullptr);

class RasSim : public RasPort, public VpnAdapterSource {
  public:
    // scriptPath empty: the default outcomes (dial succeeds, address at once).
    explicit RasSim(std::string scriptPath);

    unsigned long RasEnumConnections(RasConn* connections, unsigned long capacity,
                                     unsigned long& count) override;
    unsigned long RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) override;
    unsigned long RasDeleteEntry(const std::wstring& entryName) override;
    unsigned long RasHangUp(RasConnHandle connection) override;
    unsigned long RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                        const std::vector<std::uint8_t>& deviceInfo) override;
    unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection) override;

    // For the IP Helper: the VPN's adapter while its connection is up.
    std::optional<AdapterInfo> VpnAdapter();
    void ShowVpnAdapter(AdapterList& adapters) override;
    // Counts one adapter look (a list handed out) towards the script's thresholds.
    void CountLook() override;

  private:
    struct Connection {
        RasConnHandle handle = nullptr;
        std::wstring deviceName;
        int looks = 0;  // adapter looks since the dial
    };

    void Refresh();  // reads the script, drops a link whose time is up

    std::string scriptPath_;
    RasSimScript script_;
    std::map<std::wstring, RasEntry> phoneBook_;
    std::vector<Connection> connections_;
    std::uintptr_t nextHandle_ = 0x5000;
};

}  // namespace lumivo

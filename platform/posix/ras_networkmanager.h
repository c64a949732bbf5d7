#pragma once
// The remote-access service on Linux over NetworkManager and its L2TP plugin,
// which drive the host's own IPsec (strongSwan or Libreswan), xl2tpd and
// pppd. The agent speaks NetworkManager's D-Bus interface through sd-bus,
// with libsystemd loaded only when a VPN is dialled. See docs/vpn-linux.md.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/ip_helper_posix.h"
#include "platform/ras_port.h"

namespace lumivo {

// RAS error numbers that the backend answers with (the platform's numbers).
inline constexpr unsigned long errorPortNotAvailable = 633;   // no VPN stack, or it refused
inline constexpr unsigned long errorAuthenticationFailure = 691;
inline constexpr unsigned long errorIpsecNegotiation = 789;   // security layer failed
inline constexpr unsigned long errorVpnNoAnswer = 800;        // no tunnel within the deadline

// NetworkManager's reasons for a failed VPN (NMVpnConnectionStateReason),
// as RAS error numbers.
unsigned long RasErrorForVpnFailure(std::uint32_t reason);

// The L2TP plugin's configuration for an entry: the server, the allowed
// authentication from the option bits, and user and domain from the dial.
std::map<std::string, std::string> L2tpData(const RasEntry& entry, const RasDialParams& params);

// The pre-shared key carried in a device-configuration block (words 3 and 4
// give its length in bytes and its offset); empty when the block is short.
std::wstring PresharedKeyFromBlock(const std::vector<std::uint8_t>& block);

class RasNetworkManager : public RasPort, public VpnAdapterSource {
  public:
    explicit RasNetworkManager(std::chrono::seconds dialDeadline = std::chrono::seconds(60))
        : dialDeadline_(dialDeadline) {}
    ~RasNetworkManager() override;
    RasNetworkManager(const RasNetworkManager&) = delete;
    RasNetworkManager& operator=(const RasNetworkManager&) = delete;

    unsigned long RasEnumConnections(RasConn* connections, unsigned long capacity,
                                     unsigned long& count) override;
    unsigned long RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) override;
    unsigned long RasDeleteEntry(const std::wstring& entryName) override;
    unsigned long RasHangUp(RasConnHandle connection) override;
    unsigned long RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                        const std::vector<std::uint8_t>& deviceInfo) override;
    unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection) override;

    // Lists the tunnel's interface as "L2TP Line 0".
    void ShowVpnAdapter(AdapterList& adapters) override;

  private:
    struct Entry {
        RasEntry entry;
        std::wstring presharedKey;
    };
    struct Bus;

    bool Connected();          // the active connection is still up; forgets it when not
    void ForgetConnection();
    std::string TunnelAddress();
    unsigned long WaitForDial(std::chrono::steady_clock::time_point deadline,
                              std::uint32_t& reason);

    std::chrono::seconds dialDeadline_;
    std::map<std::wstring, Entry> phoneBook_;
    Bus* bus_ = nullptr;        // opened by the first dial
    std::string activePath_;    // NetworkManager's active connection, while up
    std::string profilePath_;   // its (volatile) profile
    std::string tunnelAddress_;
    std::uintptr_t handle_ = 0;
    std::uintptr_t nextHandle_ = 0x7000;
};

}  // namespace lumivo

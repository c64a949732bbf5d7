#pragma once
// What every POSIX entry point sets up the same way, whatever its windows:
// the process (locale, SIGPIPE, the console for the journal) and the network
// side of the ports (HTTPS, the remote-access service and the IP Helper).

#include <optional>

#include "base/agent.h"
#include "platform/posix/internet_curl.h"
#include "platform/posix/ip_helper_posix.h"
#include "platform/posix/ras_networkmanager.h"
#include "platform/posix/ras_sim.h"

namespace lumivo {

// Multibyte conversion after the user's locale, SIGPIPE ignored, and console
// lines fit for the journal when standard output is the journal.
void PrepareProcess();

// HTTPS over libcurl, LUMIVO_CONNECT_TO honoured; RAS over the host's
// NetworkManager, or the simulation only when LUMIVO_RAS_SCRIPT names it
// (which it says once on standard error); the host's adapters with the VPN's
// tunnel as "L2TP Line 0".
class HostNetworkPorts {
  public:
    HostNetworkPorts();
    HostNetworkPorts(const HostNetworkPorts&) = delete;
    HostNetworkPorts& operator=(const HostNetworkPorts&) = delete;

    void Attach(Ports& ports);

  private:
    CurlInternet internet_;
    std::optional<RasSim> simulation_;
    std::optional<RasNetworkManager> networkManager_;
    std::optional<IpHelperPosix> ipHelper_;
    RasPort* ras_ = nullptr;  // the one of the two above that runs
};

}  // namespace lumivo

#pragma once
// IP Helper on Linux: the host's interfaces from getifaddrs, with IPv4
// addresses and masks in dotted text, plus the simulated VPN's adapter while
// its connection is up.

#include "platform/ip_helper_port.h"

namespace lumivo {

class RasSim;

class IpHelperPosix : public IpHelperPort {
  public:
    // rasSim may be null: then no VPN adapter is ever listed.
    explicit IpHelperPosix(RasSim* rasSim) : rasSim_(rasSim) {}

    unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size) override;

  private:
    RasSim* rasSim_;
};

// The host's interfaces in getifaddrs order, the loopback left out as the
// platform's list leaves it out; an interface without an IPv4 address has one
// "0.0.0.0" entry. False when getifaddrs fails.
bool ListHostAdapters(AdapterList& adapters);

}  // namespace lumivo

#pragma once
// IP Helper on Linux: the host's interfaces from getifaddrs, with IPv4
// addresses and masks in dotted text, and the VPN's tunnel listed under the
// name the agent knows it by ("L2TP Line 0").

#include "platform/ip_helper_port.h"

namespace lumivo {

// What the RAS backend adds to the host's list: the real backend renames its
// tunnel's interface, the simulation appends an adapter of its own.
class VpnAdapterSource {
  public:
    virtual ~VpnAdapterSource() = default;
    virtual void ShowVpnAdapter(AdapterList& adapters) = 0;
    // One list handed out (the simulation counts looks).
    virtual void CountLook() {}
};

class IpHelperPosix : public IpHelperPort {
  public:
    // vpn may be null: then the host's list is all.
    explicit IpHelperPosix(VpnAdapterSource* vpn) : vpn_(vpn) {}

    unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size) override;

  private:
    VpnAdapterSource* vpn_;
};

// The host's interfaces in getifaddrs order, the loopback left out as the
// platform's list leaves it out; an interface without an IPv4 address has one
// "0.0.0.0" entry. False when getifaddrs fails.
bool ListHostAdapters(AdapterList& adapters);

}  // namespace lumivo

#pragma once
// The agent's L2TP/IPsec VPN over the platform's remote-access service.

#include <string>

#include "app/agent.h"

namespace lumivo {

bool StartVpn(Agent& agent, std::string url, std::string username, std::string password,
              std::string domain, std::string preSharedKey);
// False only when the platform refuses to hang up the VPN's connection.
bool StopVpn(Agent& agent, bool notifyService);

}  // namespace lumivo

#include "platform/posix/service_notify.h"

#ifdef LUMIVO_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace lumivo {

std::string ActivityNotification(AgentActivity activity, const std::string& vpnAddress) {
    switch (activity) {
        case AgentActivity::SigningIn:
            return "STATUS=Signing in";
        case AgentActivity::Running:
            return "READY=1\nSTATUS=Running";
        case AgentActivity::VpnUp:
            return "STATUS=Running, VPN up with address " + vpnAddress;
        case AgentActivity::ShuttingDown:
            return "STOPPING=1\nSTATUS=Shutting down";
    }
    return "";
}

void NotifyServiceManager(const std::string& state) {
#ifdef LUMIVO_HAVE_SYSTEMD
    // Returns at once when NOTIFY_SOCKET is not set; a lost notification is
    // only a late status, so the result is not examined.
    sd_notify(0, state.c_str());
#else
    (void)state;
#endif
}

}  // namespace lumivo

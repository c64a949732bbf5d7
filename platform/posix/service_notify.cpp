#include "platform/posix/service_notify.h"

#ifdef LUMIVO_HAVE_SYSTEMD
#include <dlfcn.h>
#include <systemd/sd-daemon.h>

#include <cstdlib>
#endif

namespace lumivo {

std::string ActivityNotification(AgentActivity::Value activity, const std::string& vpnAddress) {
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
    // libsystemd (and the libraries it brings) is loaded only when a service
    // manager listens, so the agent run by hand or on a board without one
    // carries none of it.
    using Notify = decltype(&sd_notify);
    static const Notify notify = []() -> Notify {
        if (std::getenv("NOTIFY_SOCKET") == nullptr) return nullptr;
        void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        return library != nullptr ? reinterpret_cast<Notify>(::dlsym(library, "sd_notify"))
                                  : nullptr;
    }();
    // A lost notification is only a late status, so the result is not examined.
    if (notify != nullptr) notify(0, state.c_str());
#else
    (void)state;
#endif
}

}  // namespace lumivo

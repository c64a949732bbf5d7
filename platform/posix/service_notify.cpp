#include "platform/posix/service_notify.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#ifdef LUMIVO_HAVE_SYSTEMD
#include <dlfcn.h>
#include <systemd/sd-daemon.h>
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

bool StandardOutputIsJournal() {
    // Only the stream itself counts: a child's output handed on to a pipe or
    // a file keeps the variable but is not the journal.
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char rest = 0;
    if (stream == nullptr || std::sscanf(stream, "%llu:%llu%c", &device, &inode, &rest) != 2)
        return false;
    struct stat info {};
    return fstat(1, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device &&
           static_cast<unsigned long long>(info.st_ino) == inode;
}

}  // namespace lumivo

#pragma once
// The process-wide state of the agent and the ports it works through. One
// Agent is created by the entry point before start-up and handed explicitly
// to every operation; nothing else holds state across calls.

#include <cstdint>
#include <string>

namespace lumivo {

class SystemPort;
class FilePort;
class InternetPort;
class RasPort;
class IpHelperPort;
class UiPort;

struct DeviceSettings {
    std::int32_t id = 0;
    std::string password;
    bool connectionsEnabled = false;
    std::string connectionsPassword;
    bool vpnEnabled = false;
};

// What the timer work needs of the main dialog.
class MainDialogView {
  public:
    virtual ~MainDialogView() = default;
    virtual void ShowVpnAddress(std::string text) = 0;
    virtual bool SetVpnIcon(bool vpnUp) = 0;
};

// The platform services, each a narrow port. Unit tests fill in fakes for the
// ones they exercise.
struct Ports {
    SystemPort* system = nullptr;
    FilePort* files = nullptr;
    InternetPort* internet = nullptr;
    RasPort* ras = nullptr;
    IpHelperPort* ipHelper = nullptr;
    UiPort* ui = nullptr;
};

struct Agent {
    Ports ports;
    DeviceSettings settings;
    std::string accessToken;
    bool vpnConnected = false;
    std::string vpnIpAddress;
    MainDialogView* mainDialog = nullptr;
    unsigned taskbarCreatedMessage = 0;
};

}  // namespace lumivo

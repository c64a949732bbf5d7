#pragma once
// The process-wide state of the agent and the ports it works through. One
// Agent is created by the entry point before start-up and handed explicitly
// to every operation; nothing else holds state across calls.

#include <cstddef>
#include <string>

#include "platform/portable.h"

namespace lumivo {

class SystemPort;
class FilePort;
class InternetPort;
class RasPort;
class IpHelperPort;
class UiPort;

struct DeviceSettings {
    DeviceSettings() : id(0), connectionsEnabled(false), vpnEnabled(false) {}
    DeviceSettings(int32 id, const std::string& password, bool connectionsEnabled,
                   const std::string& connectionsPassword, bool vpnEnabled)
        : id(id),
          password(password),
          connectionsEnabled(connectionsEnabled),
          connectionsPassword(connectionsPassword),
          vpnEnabled(vpnEnabled) {}
    int32 id;
    std::string password;
    bool connectionsEnabled;
    std::string connectionsPassword;
    bool vpnEnabled;
};

// What the timer work needs of the main dialog.
class MainDialogView {
  public:
    virtual ~MainDialogView() {}
    virtual void ShowVpnAddress(std::string text) = 0;
    virtual bool SetVpnIcon(bool vpnUp) = 0;
};

// The platform services, each a narrow port. Unit tests fill in fakes for the
// ones they exercise.
struct Ports {
    Ports() : system(NULL), files(NULL), internet(NULL), ras(NULL), ipHelper(NULL), ui(NULL) {}
    Ports(SystemPort* system, FilePort* files, InternetPort* internet, RasPort* ras,
          IpHelperPort* ipHelper, UiPort* ui)
        : system(system), files(files), internet(internet), ras(ras), ipHelper(ipHelper), ui(ui) {}
    SystemPort* system;
    FilePort* files;
    InternetPort* internet;
    RasPort* ras;
    IpHelperPort* ipHelper;
    UiPort* ui;
};

struct Agent {
    Agent() : vpnConnected(false), mainDialog(NULL), taskbarCreatedMessage(0) {}
    Ports ports;
    DeviceSettings settings;
    std::string accessToken;
    bool vpnConnected;
    std::string vpnIpAddress;
    MainDialogView* mainDialog;
    unsigned taskbarCreatedMessage;
};

}  // namespace lumivo

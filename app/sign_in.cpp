#include "app/sign_in.h"

#include "base/constants.h"
#include "base/settings_file.h"
#include "cloud/enrolment.h"
#include "platform/system_port.h"

namespace lumivo {

namespace {

void ApplyOverrides(DeviceSettings& settings, const std::string& vpnOverride,
                    const std::string& connectionsOverride, const std::string& passwordOverride) {
    if (vpnOverride != notSet) settings.vpnEnabled = vpnOverride != "false";
    if (connectionsOverride != notSet) settings.connectionsEnabled = connectionsOverride != "false";
    if (passwordOverride != notSet) settings.connectionsPassword = passwordOverride;
}

}  // namespace

bool LoadSettingsAndSignIn(Agent& agent, const std::string& vpnOverride,
                           const std::string& connectionsOverride,
                           const std::string& passwordOverride) {
    while (true) {
        std::string path;
        SettingsFile::Value file = LoadSettings(agent, path);
        ApplyOverrides(agent.settings, vpnOverride, connectionsOverride, passwordOverride);

        const DeviceSettings& settings = agent.settings;
        bool login = settings.id != 0 && !settings.password.empty();
        if (!login && file == SettingsFile::unusable) KeepUnusableSettingsFile(agent, path);
        bool signedIn = login ? LoginDevice(agent, settings.id, settings.password)
                              : EnrolDevice(agent);
        if (signedIn) return true;
        agent.ports.system->Sleep(signInRetryMs);
    }
}

}  // namespace lumivo

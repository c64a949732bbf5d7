#include "app/sign_in.h"

#include "base/console.h"
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
    MaskInConsole(settings.connectionsPassword);
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
        // An identity the device could not keep would leave an orphan at the
        // service with every start: no enrolment until the file can be saved.
        bool signedIn = false;
        if (login) {
            signedIn = LoginDevice(agent, settings.id, settings.password);
        } else if (CanKeepSettings(agent)) {
            if (file == SettingsFile::unusable) KeepUnusableSettingsFile(agent, path);
            signedIn = EnrolDevice(agent);
        }
        if (signedIn) return true;
        agent.ports.system->Sleep(signInRetryMs);
    }
}

}  // namespace lumivo

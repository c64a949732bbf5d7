#include "cloud/enrolment.h"

#include "base/console.h"
#include "base/constants.h"
#include "base/settings_file.h"
#include "base/text.h"
#include "cloud/transport.h"

namespace lumivo {

bool EnrolDevice(Agent& agent) {
    const std::string body = std::string("secretKey=") + enrolmentSecret +
                             "&typeCode=" + deviceTypeCode + "&version=" + agentVersion;
    int status = 0;
    std::string reply;
    SendRequest(agent, "POST", "devices", body, status, reply);
    if (status != 200) {
        Log("Error during registration of the device");
        ReportRequestError(agent, status, reply);
        return false;
    }
    Log("Ok " + IntToText(status));

    JsonTree tree(ParseJson(reply));
    std::int32_t id = 0;
    std::string password;
    std::string token;
    // Without an id the device could neither log in nor beat: the enrolment
    // counts as failed and is tried again, nothing is stored.
    if (!GetJsonInt(tree.get(), "id", id)) {
        Log("Error during registration of the device: the reply holds no device id");
        return false;
    }
    GetJsonString(tree.get(), "password", password);
    GetJsonString(tree.get(), "token", token);

    agent.settings.id = id;
    agent.settings.password = password;
    agent.accessToken = token;
    agent.settings.connectionsEnabled = false;
    agent.settings.connectionsPassword.clear();
    agent.settings.vpnEnabled = false;
    SaveSettings(agent);
    return true;
}

bool LoginDevice(Agent& agent, std::int32_t id, std::string password) {
    const std::string body = std::string("secretKey=") + enrolmentSecret + "&password=" + password +
                             "&version=" + agentVersion;
    int status = 0;
    std::string reply;
    SendRequest(agent, "POST", "devices/" + IntToText(id) + "/login", body, status, reply);
    if (status != 200) {
        Log("Error during login of the device");
        ReportRequestError(agent, status, reply);
        return false;
    }
    Log("Ok " + IntToText(status));
    JsonTree tree(ParseJson(reply));
    std::string token;
    GetJsonString(tree.get(), "token", token);
    agent.accessToken = token;
    return true;
}

}  // namespace lumivo

#include "cloud/enrolment.h"

#include "base/console.h"
#include "base/constants.h"
#include "base/settings_file.h"
#include "base/text.h"
#include "cloud/transport.h"

namespace lumivo {

namespace {

// The token goes into the header block of every later request: only visible
// ASCII keeps it one header value (no CR/LF to start another header) and
// keeps its bytes unchanged through the text conversions on the way out.
bool ReadToken(const cJSON* reply, std::string& token) {
    std::string text;
    if (!GetJsonString(reply, "token", text) || text.empty()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 33 || c > 126) return false;
    }
    token = text;
    return true;
}

}  // namespace

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
    int32 id = 0;
    std::string password;
    std::string token;
    // Without an id the device could neither log in nor beat: the enrolment
    // counts as failed and is tried again, nothing is stored.
    if (!GetJsonId(tree.get(), "id", id)) {
        Log("Error during registration of the device: the reply holds no device id");
        return false;
    }
    // Nor without a token it can send: the same, nothing stored.
    if (!ReadToken(tree.get(), token)) {
        Log("Error during registration of the device: the reply holds no usable token");
        return false;
    }
    GetJsonString(tree.get(), "password", password);

    agent.settings.id = id;
    agent.settings.password = password;
    agent.accessToken = token;
    agent.settings.connectionsEnabled = false;
    agent.settings.connectionsPassword.clear();
    agent.settings.vpnEnabled = false;
    SaveSettings(agent);
    return true;
}

bool LoginDevice(Agent& agent, int32 id, std::string password) {
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
    if (!ReadToken(tree.get(), token)) {
        Log("Error during login of the device: the reply holds no usable token");
        return false;
    }
    agent.accessToken = token;
    return true;
}

}  // namespace lumivo

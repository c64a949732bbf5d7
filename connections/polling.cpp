#include "connections/polling.h"

#include <string>

#include "base/console.h"
#include "base/text.h"
#include "cloud/transport.h"
#include "connections/adapters.h"
#include "connections/vpn.h"

namespace lumivo {

namespace {

const char* const vpnErrorBody = "status=error&data={\"error\":\"vpn-error\"}";
const char* const vpnDisabledBody = "status=error&data={\"error\":\"vpn-disabled\"}";

// Answers are sent once; their outcome is not examined.
void Answer(Agent& agent, int32 id, const std::string& body) {
    int status = 0;
    std::string reply;
    SendRequest(agent, "PUT", "connections/" + IntToText(id), body, status, reply);
}

std::string Parameter(const cJSON* parameters, const char* name) {
    std::string value;
    GetJsonString(parameters, name, value);
    return value;
}

void HandleVpnRequest(Agent& agent, int32 id, const std::string& data, bool& sawVpnCreated) {
    if (!agent.settings.vpnEnabled) {
        Answer(agent, id, vpnDisabledBody);
        return;
    }
    JsonTree parameters(ParseJson(data));
    const cJSON* object = cJSON_IsObject(parameters.get()) ? parameters.get() : NULL;
    if (!agent.vpnConnected) {
        // A VPN that is already up is reported as it is, whatever this request asks for.
        if (!StartVpn(agent, Parameter(object, "url"), Parameter(object, "username"),
                      Parameter(object, "password"), Parameter(object, "domain"),
                      Parameter(object, "preSharedKey"))) {
            Answer(agent, id, vpnErrorBody);
            return;
        }
        if (agent.mainDialog != NULL) {
            agent.mainDialog->ShowVpnAddress(agent.vpnIpAddress);
            agent.mainDialog->SetVpnIcon(true);
        }
        sawVpnCreated = true;
    }
    // The service's own parameters go back in the order sent, followed by the
    // two members of the device. Data that is not an object gives just those two.
    JsonTree built(object == NULL ? cJSON_CreateObject() : NULL);
    cJSON* answer = object != NULL ? parameters.get() : built.get();
    cJSON_AddItemToObject(answer, "serverIp", cJSON_CreateString(agent.vpnIpAddress.c_str()));
    cJSON_AddItemToObject(answer, "networkInterfaces", BuildInterfaceReport(agent));
    Answer(agent, id, "status=vpn-created&data=" + PrintJson(answer));
}

}  // namespace

void OnConnectionTimer(Agent& agent) {
    if (agent.vpnConnected && !IsVpnAdapterPresent(agent)) ResetVpn(agent);
    if (agent.settings.connectionsEnabled) CheckConnectionRequests(agent);
}

void CheckConnectionRequests(Agent& agent) {
    int status = 0;
    std::string reply;
    SendRequest(agent, "POST", "connections/check-requests",
                "password=" + agent.settings.connectionsPassword, status, reply);
    if (status != 200) {
        Log("Error checking requests");
        ReportRequestError(agent, status, reply);
        return;
    }
    Log("Ok " + IntToText(status));

    bool sawVpnCreated = false;
    JsonTree tree(ParseJson(reply));
    const cJSON* requests = cJSON_GetObjectItemCaseSensitive(tree.get(), "data");
    const cJSON* request = NULL;
    if (cJSON_IsArray(requests)) {
        // One pass over the list: indexing each element would be quadratic.
        cJSON_ArrayForEach(request, requests) {
            if (!cJSON_IsObject(request)) continue;
            int32 id = 0;
            std::string requestStatus, type, data;
            GetJsonId(request, "id", id);
            GetJsonString(request, "status", requestStatus);
            GetJsonString(request, "type", type);
            GetJsonString(request, "data", data);
            if (requestStatus == "request" && type == "vpn") {
                // Without an id there is no path to answer on.
                if (id == 0) {
                    Log("Connection request without an id ignored");
                    continue;
                }
                HandleVpnRequest(agent, id, data, sawVpnCreated);
            } else if (requestStatus == "vpn-created") {
                sawVpnCreated = true;
            }
        }
    }
    if (agent.vpnConnected && !sawVpnCreated) ResetVpn(agent);
}

void ResetVpn(Agent& agent) {
    StopVpn(agent, true);
    // The disconnected look comes back even when the hang-up failed.
    if (agent.mainDialog != NULL) {
        agent.mainDialog->SetVpnIcon(false);
        agent.mainDialog->ShowVpnAddress("");
    }
}

}  // namespace lumivo

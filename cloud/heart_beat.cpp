#include "cloud/heart_beat.h"

#include <string>

#include "base/text.h"
#include "cloud/transport.h"

namespace lumivo {

void OnHeartBeatTimer(Agent& agent) {
    // The outcome is not examined: the next tick simply beats again.
    int status = 0;
    std::string reply;
    SendRequest(agent, "GET", "devices/" + IntToText(agent.settings.id) + "/heart-beat", "", status,
                reply);
}

}  // namespace lumivo

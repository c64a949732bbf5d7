#pragma once
// Connection-request polling.

#include "base/agent.h"

namespace lumivo {

// The connection timer's procedure.
void OnConnectionTimer(Agent& agent);
void CheckConnectionRequests(Agent& agent);
void ResetVpn(Agent& agent);

}  // namespace lumivo

#pragma once

#include "base/agent.h"

namespace lumivo {

// The heart-beat timer's procedure.
void OnHeartBeatTimer(Agent& agent);

}  // namespace lumivo

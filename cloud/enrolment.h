#pragma once
// Enrolment of a new device and login of an enrolled one.

#include <string>

#include "base/agent.h"

namespace lumivo {

bool EnrolDevice(Agent& agent);
bool LoginDevice(Agent& agent, int32 id, std::string password);

}  // namespace lumivo

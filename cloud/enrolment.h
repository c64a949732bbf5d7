#pragma once
// Enrolment of a new device and login of an enrolled one.

#include <cstdint>
#include <string>

#include "base/agent.h"

namespace lumivo {

bool EnrolDevice(Agent& agent);
bool LoginDevice(Agent& agent, std::int32_t id, std::string password);

}  // namespace lumivo

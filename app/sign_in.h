#pragma once
// The sign-in decision at start-up: login with a stored identity, else enrolment.

#include <string>

#include "base/agent.h"

namespace lumivo {

// Loads the settings, applies the command-line overrides ("NOT_SET" when not
// given) and logs in or enrols, retrying every 30000 ms until one succeeds.
bool LoadSettingsAndSignIn(Agent& agent, const std::string& vpnOverride,
                           const std::string& connectionsOverride,
                           const std::string& passwordOverride);

}  // namespace lumivo

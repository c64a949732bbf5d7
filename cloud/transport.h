#pragma once
// The one HTTPS transport to the cloud service.

#include <string>

#include "base/agent.h"

namespace lumivo {

// One synchronous request to serviceBaseUrl + path; status 0 when no status came.
void SendRequest(Agent& agent, std::string method, std::string path, std::string body,
                 int& status, std::string& reply);
// Logs what the service said about a request that its caller found failed.
void ReportRequestError(Agent& agent, int status, std::string reply);

}  // namespace lumivo

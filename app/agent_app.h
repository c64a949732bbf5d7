#pragma once
// The application object: the agent's whole run, from the command line to shutdown.

#include <memory>
#include <string>

#include "base/agent.h"
#include "platform/system_port.h"

namespace lumivo {

class CMainDialog;

class CAgentApp {
  public:
    explicit CAgentApp(Agent& agent);
    ~CAgentApp();
    CAgentApp(const CAgentApp&) = delete;
    CAgentApp& operator=(const CAgentApp&) = delete;

    // Returns when the run is over; false on every path.
    bool RunAgent();
    // True when another copy already runs (the message is written and the
    // handle closed), or when the platform could not guard against one
    // (ERROR_NO_INSTANCE_GUARD: it wrote its own line).
    bool CheckSingleInstance();

    TimerId connectionTimerId = 0;
    TimerId heartBeatTimerId = 0;

  private:
    void ReportVpnChange();

    Agent& agent_;
    MutexHandle mutex_ = nullptr;  // held, never released, until the process ends
    std::unique_ptr<CMainDialog> mainDialog_;
    std::string reportedVpnAddress_;  // last VPN address told to the service manager
};

}  // namespace lumivo

#pragma once
// The application object: the agent's whole run, from the command line to shutdown.

#include <string>

#include "base/agent.h"
#include "platform/portable.h"
#include "platform/system_port.h"

namespace lumivo {

class CMainDialog;

// The application is the procedure of its two timers.
class CAgentApp : private TimerProcedure, private NonCopyable {
  public:
    explicit CAgentApp(Agent& agent);
    ~CAgentApp();

    // Returns when the run is over; false on every path.
    bool RunAgent();
    // True when another copy already runs (the message is written and the
    // handle closed), or when the platform could not guard against one
    // (ERROR_NO_INSTANCE_GUARD: it wrote its own line).
    bool CheckSingleInstance();

    TimerId connectionTimerId;
    TimerId heartBeatTimerId;

  private:
    void OnTimer(TimerId id);
    void ReportVpnChange();

    Agent& agent_;
    MutexHandle mutex_;  // held, never released, until the process ends
    Owned<CMainDialog> mainDialog_;
    std::string reportedVpnAddress_;  // last VPN address told to the service manager
};

}  // namespace lumivo

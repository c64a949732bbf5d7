#pragma once
// An agent over in-memory fakes, made once per fuzzing process, with its
// console output silenced.

#include "base/console.h"
#include "fakes/fake_agent.h"

namespace lumivo::fuzz {

struct FuzzAgent : FakeAgent {
    FuzzAgent() { SetDebugOutput(false); }
    // Back to the state of a fresh run, keeping the fakes' folders.
    void Reset() {
        agent.settings = DeviceSettings{};
        agent.accessToken.clear();
        agent.vpnConnected = false;
        agent.vpnIpAddress.clear();
        internet.replies.clear();
        internet.sent.clear();
        internet.calls.clear();
        ras = FakeRas();
        system.sleeps.clear();
        system.onSleep = nullptr;
    }
};

inline FuzzAgent& Shared() {
    static FuzzAgent* shared = new FuzzAgent();  // lives for the whole fuzzing run
    return *shared;
}

}  // namespace lumivo::fuzz

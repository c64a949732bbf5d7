#pragma once
// An agent over in-memory fakes, made once per fuzzing process, with its
// console output silenced.

#include <iostream>

#include "base/agent.h"
#include "fakes/fake_files.h"
#include "fakes/fake_internet.h"
#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "fakes/fake_system.h"

namespace lumivo::fuzz {

struct FuzzAgent {
    FuzzAgent() {
        agent.ports.system = &system;
        agent.ports.files = &files;
        agent.ports.internet = &internet;
        agent.ports.ras = &ras;
        agent.ports.ipHelper = &ipHelper;
        std::cout.setstate(std::ios::failbit);
    }
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

    FakeSystem system;
    FakeFiles files;
    FakeInternet internet;
    FakeRas ras;
    FakeIpHelper ipHelper;
    Agent agent;
};

inline FuzzAgent& Shared() {
    static FuzzAgent* shared = new FuzzAgent();  // lives for the whole fuzzing run
    return *shared;
}

}  // namespace lumivo::fuzz

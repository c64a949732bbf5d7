#pragma once
// An agent over in-memory fakes of every port, wired as an entry point wires
// the adapters. Test fixtures derive from it and script the fakes by name.

#include "base/agent.h"
#include "fakes/fake_files.h"
#include "fakes/fake_internet.h"
#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "fakes/fake_system.h"
#include "fakes/fake_ui.h"

namespace lumivo {

struct FakeAgent {
    FakeAgent() { agent.ports = Ports{&system, &files, &internet, &ras, &ipHelper, &ui}; }
    FakeAgent(const FakeAgent&) = delete;
    FakeAgent& operator=(const FakeAgent&) = delete;

    FakeSystem system;
    FakeFiles files;
    FakeInternet internet;
    FakeRas ras;
    FakeIpHelper ipHelper;
    FakeUi ui;
    Agent agent;
};

}  // namespace lumivo

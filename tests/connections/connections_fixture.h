#pragma once
// An agent wired to fakes of every port the connection work touches, and a
// recording stand-in for the main dialog.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/console_capture.h"
#include "fakes/fake_agent.h"

namespace lumivo {

class RecordingDialog : public MainDialogView {
  public:
    std::vector<std::string> events;  // "address:TEXT" and "icon:1"/"icon:0", in order
    void ShowVpnAddress(std::string text) override { events.push_back("address:" + text); }
    bool SetVpnIcon(bool vpnUp) override {
        events.push_back(vpnUp ? "icon:1" : "icon:0");
        return true;
    }
};

class ConnectionsTest : public ::testing::Test, protected FakeAgent {
  protected:
    ConnectionsTest() {
        agent.mainDialog = &dialog;
        ipHelper.adapters = {MakeAdapter("eth0", {{"192.168.1.20", "255.255.255.0"}})};
    }

    // A VPN that is up as a successful start leaves it.
    void VpnUp(const std::string& address = "10.8.0.6") {
        ras.AddConnection(L"L2TP Line 0");
        ipHelper.adapters.push_back(MakeAdapter("L2TP Line 0", {{address, "255.255.255.255"}}));
        agent.vpnConnected = true;
        agent.vpnIpAddress = address;
    }
    void VpnAdapterGone() { ipHelper.adapters.pop_back(); }

    // The agent's own console lines: the transport's reply lines (empty or
    // JSON text here) are left out.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const std::string& line : console.Lines()) {
            if (!line.empty() && line[0] != '{') lines.push_back(line);
        }
        return lines;
    }
    std::vector<std::string> Requests() const { return internet.Requests(); }

    test::ConsoleCapture console;
    RecordingDialog dialog;
};

}  // namespace lumivo

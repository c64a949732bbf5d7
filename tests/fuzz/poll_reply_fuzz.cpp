// Fuzzes the connection-request poll: any bytes as the reply to
// "connections/check-requests", with the VPN down or up, and with VPN requests
// accepted. Every answer must go to a path with a non-zero request id.
#include <cstddef>
#include <cstdint>
#include <string>

#include "connections/polling.h"
#include "fuzz_agent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    auto& fuzz = lumivo::fuzz::Shared();
    fuzz.Reset();
    fuzz.agent.settings.connectionsEnabled = true;
    fuzz.agent.settings.vpnEnabled = (data[0] & 1) != 0;
    fuzz.ipHelper.adapters = {lumivo::MakeAdapter("eth0", {{"192.168.1.2", "255.255.255.0"}})};
    if (data[0] & 2) {
        fuzz.ras.AddConnection(L"L2TP Line 0");
        fuzz.ipHelper.adapters.push_back(
            lumivo::MakeAdapter("L2TP Line 0", {{"10.0.0.2", "255.255.255.255"}}));
        fuzz.agent.vpnConnected = true;
        fuzz.agent.vpnIpAddress = "10.0.0.2";
    }
    fuzz.internet.Script(200, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    lumivo::OnConnectionTimer(fuzz.agent);
    for (const auto& sent : fuzz.internet.sent) {
        if (sent.method == "PUT" &&
            (sent.relativePath == "connections/0" || sent.relativePath == "connections/"))
            __builtin_trap();
    }
    return 0;
}

// The agent binary against devcloud with the simulated RAS: a VPN request
// brought up and answered with the host's real adapters, kept while the
// service lists it, torn down when it no longer does or when its link drops.

#include <net/if.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include <cjson/cJSON.h>

#include "cloud/child_process.h"
#include "devcloud/devcloud_fixture.h"

namespace lumivo {
namespace {

namespace fs = std::filesystem;

class ConnectionsEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(cloud.Start());
        ASSERT_TRUE(cloud.Enrol(deviceId, devicePassword, token));
        ASSERT_TRUE(cloud.SetConnectionsPassword(deviceId, "cpw"));
        char pattern[] = "/tmp/lumivo-e2e-connections-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        fs::create_directories(work / "device" / "BOOT");
        fs::create_directories(work / "run");
    }
    void TearDown() override {
        agent.reset();
        std::error_code ignored;
        if (!work.empty()) fs::remove_all(work, ignored);
    }

    void WriteSettings(bool connectionsEnabled) {
        std::ofstream(work / "device" / "BOOT" / "env.json")
            << "{\"id\":" << deviceId << ",\"password\":\"" << devicePassword
            << "\",\"connectionsEnabled\":" << (connectionsEnabled ? "true" : "false")
            << ",\"connectionsPassword\":\"cpw\",\"vpnEnabled\":true}";
    }
    void Script(const std::string& text) { std::ofstream(work / "ras-script") << text; }

    // simulated false: the real backend, with a system bus that is not there.
    void StartAgent(bool simulated = true) {
        agent = std::make_unique<test::ChildProcess>(
            LUMIVO_RUNTIME_BINARY, std::vector<std::string>{"-d"},
            std::vector<std::string>{
                "LUMIVO_DEVICE_ROOT=" + (work / "device").string(),
                "LUMIVO_RUNTIME_DIR=" + (work / "run").string(),
                simulated ? "LUMIVO_RAS_SCRIPT=" + (work / "ras-script").string()
                          : "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (work / "no-bus").string(),
                "LUMIVO_CONNECT_TO=localhost:8443:127.0.0.1:" + std::to_string(cloud.port())});
        ASSERT_TRUE(agent->Started());
    }

    int Calls(const std::string& method, const std::string& path) {
        int count = 0;
        for (const LoggedCall& call : cloud.Log())
            count += call.method == method && call.path == path;
        return count;
    }
    // Waits until devcloud has seen `count` calls of method and path.
    bool WaitForCalls(const std::string& method, const std::string& path, int count,
                      double seconds) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (Calls(method, path) < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }
    CloudRequest Request(int id) {
        for (const CloudRequest& request : cloud.Requests()) {
            if (request.id == id) return request;
        }
        return {};
    }

    DevCloud cloud;
    int deviceId = 0;
    std::string devicePassword, token;
    fs::path work;
    std::unique_ptr<test::ChildProcess> agent;
};

// The host's interfaces as the kernel names them, the loopback left out.
std::set<std::string> HostInterfaces() {
    std::set<std::string> names;
    struct if_nameindex* list = if_nameindex();
    for (struct if_nameindex* n = list; n != nullptr && n->if_index != 0; ++n) {
        if (std::string(n->if_name) != "lo") names.insert(n->if_name);
    }
    if (list != nullptr) if_freenameindex(list);
    return names;
}

std::set<std::string> MemberNames(const std::string& json) {
    std::set<std::string> names;
    cJSON* object = cJSON_Parse(json.c_str());
    const cJSON* member = nullptr;
    cJSON_ArrayForEach(member, object) names.insert(member->string);
    cJSON_Delete(object);
    return names;
}

TEST_F(ConnectionsEndToEnd, VpnRoundTrip) {
    WriteSettings(true);
    Script("address=10.99.0.7\n");
    const int request =
        cloud.CreateVpnRequest(deviceId, "vpn.example.net", "dev", "pw", "CORP", "psk");
    ASSERT_NE(request, 0);
    StartAgent();

    const int connected = agent->WaitForLine("VPN connected successfully", 15);
    ASSERT_GE(connected, 0);
    ASSERT_TRUE(WaitForCalls("PUT", "/api/connections/" + std::to_string(request), 1, 5));
    CloudRequest answered = Request(request);
    EXPECT_EQ(answered.status, "vpn-created");
    EXPECT_EQ(answered.answerStatus, "vpn-created");
    EXPECT_EQ(answered.serverIp, "10.99.0.7");
    EXPECT_EQ(MemberNames(answered.networkInterfacesJson), HostInterfaces());

    // The next poll lists the request as "vpn-created": the VPN stays.
    const int polls = Calls("POST", "/api/connections/check-requests");
    ASSERT_TRUE(WaitForCalls("POST", "/api/connections/check-requests", polls + 1, 7));
    ASSERT_GE(agent->WaitForLine("Ok 200", 3, connected + 1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(agent->WaitForLine("VPN disconnected successfully", 0.1, connected + 1), -1);
    EXPECT_EQ(Calls("DELETE", "/api/connections/disconnect-all"), 0);

    // Once the operator ends it, the next poll lists nothing and the VPN goes.
    ASSERT_TRUE(cloud.EndRequest(request));
    EXPECT_GE(agent->WaitForLine("VPN disconnected successfully", 7, connected + 1), 0);
    EXPECT_EQ(Calls("DELETE", "/api/connections/disconnect-all"), 1);
    EXPECT_EQ(agent->Stop(), 0);
}

TEST_F(ConnectionsEndToEnd, VpnWhoseLinkDropsIsReset) {
    WriteSettings(true);
    // Up after the dial's address look and the report's look, gone at the
    // next tick's watch.
    Script("drop_after=2\n");
    const int request = cloud.CreateVpnRequest(deviceId, "vpn.example.net", "dev", "pw", "", "psk");
    StartAgent();
    const int connected = agent->WaitForLine("VPN connected successfully", 15);
    ASSERT_GE(connected, 0);
    EXPECT_GE(agent->WaitForLine("VPN disconnected successfully", 7, connected + 1), 0);
    EXPECT_EQ(Calls("DELETE", "/api/connections/disconnect-all"), 1);
    EXPECT_NE(Request(request).status, "vpn-created");
}

// Without the simulation and without a VPN stack, no VPN is ever reported.
TEST_F(ConnectionsEndToEnd, NoVpnStackIsAnError) {
    WriteSettings(true);
    const int request = cloud.CreateVpnRequest(deviceId, "vpn.example.net", "dev", "pw", "", "psk");
    StartAgent(false);
    const int failed = agent->WaitForLine("Error 633 starting VPN", 15);
    ASSERT_GE(failed, 0);
    ASSERT_TRUE(WaitForCalls("PUT", "/api/connections/" + std::to_string(request), 1, 5));
    EXPECT_EQ(Request(request).answerStatus, "error");
    EXPECT_EQ(agent->WaitForLine("VPN connected successfully", 0.1), -1);
    EXPECT_EQ(agent->Stop(), 0);
}

TEST_F(ConnectionsEndToEnd, NoPollWhileConnectionsAreDisabled) {
    WriteSettings(false);
    const int request = cloud.CreateVpnRequest(deviceId, "vpn.example.net", "dev", "pw", "", "psk");
    StartAgent();
    // The connection tick comes just before the heart-beat tick.
    ASSERT_TRUE(
        WaitForCalls("GET", "/api/devices/" + std::to_string(deviceId) + "/heart-beat", 1, 10));
    EXPECT_EQ(Calls("POST", "/api/connections/check-requests"), 0);
    EXPECT_EQ(Request(request).status, "request");
    EXPECT_EQ(agent->Stop(), 0);
}

}  // namespace
}  // namespace lumivo

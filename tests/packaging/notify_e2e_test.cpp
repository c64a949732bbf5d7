// The agent binary as systemd runs a Type=notify service: NOTIFY_SOCKET names
// a datagram socket of the test's own, which records what the agent tells
// the service manager while it signs in, runs, brings a VPN up and stops.

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cloud/child_process.h"
#include "devcloud/devcloud_fixture.h"

namespace lumivo {
namespace {

namespace fs = std::filesystem;

long long EpochMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The service manager's end: every datagram with the time it came.
class NotifySocket {
  public:
    struct Notification {
        std::string text;
        long long atMs = 0;
    };

    explicit NotifySocket(const std::string& path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 &&
                 bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() {
        if (fd_ >= 0) close(fd_);
    }
    bool bound() const { return bound_; }

    // Receives until a datagram from index `from` on equals `text` (its index) or
    // the time is up (-1).
    int WaitFor(const std::string& text, double seconds, std::size_t from = 0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds));
        std::size_t checked = from;
        for (;;) {
            for (; checked < received_.size(); ++checked)
                if (received_[checked].text == text) return static_cast<int>(checked);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return -1;
            pollfd one{fd_, POLLIN, 0};
            if (poll(&one, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            ssize_t size = recv(fd_, buffer, sizeof buffer, 0);
            if (size >= 0) received_.push_back({std::string(buffer, size), EpochMs()});
        }
    }
    void Drain() { WaitFor("", 0.2); }
    int Count(const std::string& text, std::size_t from = 0) const {
        int count = 0;
        for (std::size_t i = from; i < received_.size(); ++i) count += received_[i].text == text;
        return count;
    }
    const std::vector<Notification>& received() const { return received_; }

  private:
    int fd_ = -1;
    bool bound_ = false;
    std::vector<Notification> received_;
};

class ServiceNotifications : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lumivo-notify-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work = pattern;
        fs::create_directories(work / "device" / "BOOT");
        fs::create_directories(work / "run");
        notify = std::make_unique<NotifySocket>((work / "notify").string());
        ASSERT_TRUE(notify->bound());
        ASSERT_TRUE(cloud.Start());
        ASSERT_TRUE(cloud.Enrol(deviceId, devicePassword, token));
        ASSERT_TRUE(cloud.SetConnectionsPassword(deviceId, "cpw"));
        std::ofstream(work / "device" / "BOOT" / "env.json")
            << "{\"id\":" << deviceId << ",\"password\":\"" << devicePassword
            << "\",\"connectionsEnabled\":true,\"connectionsPassword\":\"cpw\",\"vpnEnabled\":true}";
        std::ofstream(work / "ras-script") << "address=10.99.0.7\n";
    }
    void TearDown() override {
        agent.reset();
        notify.reset();
        std::error_code ignored;
        if (!work.empty()) fs::remove_all(work, ignored);
    }

    void StartAgent() {
        agent = std::make_unique<test::ChildProcess>(
            AGENT_BINARY, std::vector<std::string>{"-d"},
            std::vector<std::string>{
                "NOTIFY_SOCKET=" + (work / "notify").string(),
                "LUMIVO_DEVICE_ROOT=" + (work / "device").string(),
                "LUMIVO_RUNTIME_DIR=" + (work / "run").string(),
                "LUMIVO_RAS_SCRIPT=" + (work / "ras-script").string(),
                "LUMIVO_CONNECT_TO=localhost:8443:127.0.0.1:" + std::to_string(cloud.port())});
        ASSERT_TRUE(agent->Started());
    }

    // Device calls that a timer tick makes, since `sinceMs`.
    int TickCalls(long long sinceMs) {
        int count = 0;
        for (const LoggedCall& call : cloud.Log()) {
            bool tick = call.path == "/api/connections/check-requests" ||
                        call.path == "/api/devices/" + std::to_string(deviceId) + "/heart-beat";
            count += tick && call.receivedMs >= sinceMs;
        }
        return count;
    }

    DevCloud cloud;
    int deviceId = 0;
    std::string devicePassword, token;
    fs::path work;
    std::unique_ptr<NotifySocket> notify;
    std::unique_ptr<test::ChildProcess> agent;
};

TEST_F(ServiceNotifications, FollowSignInTicksVpnAndShutdown) {
    // The first login fails, so the agent waits its 30 s before the next one.
    const std::string loginPath = "/api/devices/" + std::to_string(deviceId) + "/login";
    FaultSpec refused;
    refused.path = loginPath;
    refused.status = 500;
    ASSERT_TRUE(cloud.AddFault(refused));
    StartAgent();

    const int ready = notify->WaitFor("READY=1\nSTATUS=Running", 50);
    ASSERT_GE(ready, 0);
    // Nothing but the sign-in status came before, and READY only after the login that worked.
    ASSERT_EQ(ready, 1);
    EXPECT_EQ(notify->received()[0].text, "STATUS=Signing in");
    long long lastLoginMs = 0;
    int logins = 0;
    for (const LoggedCall& call : cloud.Log()) {
        if (call.path != loginPath) continue;
        ++logins;
        lastLoginMs = call.receivedMs;
    }
    EXPECT_EQ(logins, 2);
    EXPECT_GE(notify->received()[ready].atMs, lastLoginMs);
    EXPECT_GE(notify->received()[ready].atMs - notify->received()[0].atMs, 29000);

    // One keep-alive per tick of either timer, sent as the tick is dispatched,
    // so at most the tick whose request is under way is ahead of devcloud's log.
    const long long readyMs = notify->received()[ready].atMs;
    std::this_thread::sleep_for(std::chrono::seconds(11));
    notify->Drain();
    const int ticks = TickCalls(readyMs);
    const int keepAlives = notify->Count("WATCHDOG=1", ready + 1);
    EXPECT_GE(ticks, 4);
    EXPECT_TRUE(keepAlives == ticks || keepAlives == ticks + 1)
        << keepAlives << " keep-alives for " << ticks << " ticks";

    // The status follows the VPN up and down again.
    const int request = cloud.CreateVpnRequest(deviceId, "vpn.example.net", "dev", "pw", "", "psk");
    ASSERT_NE(request, 0);
    const int up = notify->WaitFor("STATUS=Running, VPN up with address 10.99.0.7", 12, ready + 1);
    ASSERT_GE(up, 0);
    const int connected = agent->WaitForLine("VPN connected successfully", 5);
    ASSERT_GE(connected, 0);
    ASSERT_TRUE(cloud.EndRequest(request));
    EXPECT_GE(notify->WaitFor("READY=1\nSTATUS=Running", 12, up + 1), 0);
    const int reset = agent->WaitForLine("VPN disconnected successfully", 5, connected + 1);
    ASSERT_GE(reset, 0);

    // Shutdown is announced, then the service hears "disconnect-all"; nothing comes after.
    auto disconnects = [this] {
        int count = 0;
        for (const LoggedCall& call : cloud.Log())
            count += call.method == "DELETE" && call.path == "/api/connections/disconnect-all";
        return count;
    };
    const int before = disconnects();
    ASSERT_EQ(kill(agent->Pid(), SIGTERM), 0);
    const int stopping = notify->WaitFor("STOPPING=1\nSTATUS=Shutting down", 10, up + 1);
    ASSERT_GE(stopping, 0);
    ASSERT_GE(agent->WaitForLine("VPN disconnected successfully", 10, reset + 1), 0);
    EXPECT_EQ(disconnects(), before + 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(agent->Stop(), 0);
    notify->Drain();
    EXPECT_EQ(notify->received().size(), static_cast<std::size_t>(stopping) + 1);
}

}  // namespace
}  // namespace lumivo

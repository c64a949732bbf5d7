// Thousands of rounds of both timers through the whole agent (start-up, the
// message loop, polls, VPN up and down, heart-beats, shutdown) over the fakes,
// with the service cycling through every answer it can give. Each round checks
// the VPN state and the lines; at the end the heap must be where it was after
// warm-up. Run under valgrind or LeakSanitizer, this also proves no leak.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/agent_app.h"
#include "base/constants.h"
#include "fakes/console_capture.h"
#include "fakes/fake_agent.h"
#include "fakes/fake_ip_helper.h"
#include "soak/heap_in_use.h"

namespace lumivo {
namespace {

using ::testing::Contains;
using ::testing::Not;

// Lists the VPN's adapter, with an address, exactly while a RAS connection is
// up on the L2TP line.
class LinkedIpHelper : public FakeIpHelper {
  public:
    explicit LinkedIpHelper(const FakeRas& ras) : ras_(ras) {}
    unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size) override {
        adapters = {MakeAdapter("eth0", {{"192.168.1.20", "255.255.255.0"}})};
        for (const auto& connection : ras_.connections) {
            if (connection.deviceName == L"L2TP Line 0") {
                adapters.push_back(MakeAdapter("L2TP Line 0", {{"10.8.0.6", "255.255.255.255"}}));
            }
        }
        return FakeIpHelper::GetAdaptersInfo(list, size);
    }

  private:
    const FakeRas& ras_;
};

// One round of the service's behaviour and what the agent must do with it.
struct Phase {
    const char* name;
    FakeInternet::Reply poll;
    bool vpnAfter;                     // vpnConnected once the round is over
    std::vector<std::string> mustLog;  // lines the round writes
    bool adapterVanishes = false;      // the VPN's link drops before the round
    bool dialFails = false;            // the RAS dial fails in this round
};

FakeInternet::Reply Answer(int status, std::string body) {
    FakeInternet::Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

const char* const kRequest =
    R"({"data":[{"id":11,"status":"request","type":"vpn","data":"{\"url\":\"vpn.example\",)"
    R"(\"username\":\"u\",\"password\":\"p\",\"domain\":\"\",\"preSharedKey\":\"k\"}"}]})";
const char* const kCreatedAndAnother =
    R"({"data":[{"id":11,"status":"vpn-created","type":"vpn","data":"{}"},)"
    R"({"id":12,"status":"request","type":"vpn","data":"{\"url\":\"other\"}"},)"
    R"({"id":13,"status":"gone","type":"vpn","data":""}]})";

const char* const kCreatedOnly =
    R"({"data":[{"id":11,"status":"vpn-created","type":"vpn","data":"{}"}]})";

std::vector<Phase> Phases() {
    FakeInternet::Reply cut = Answer(200, std::string(120, ' ') + kRequest);
    cut.failReadAfter = 1;
    FakeInternet::Reply down;
    down.sendFails = true;
    down.sendError = kInternetCannotConnect;
    return {
        {"request", Answer(200, kRequest), true, {"Ok 200", "VPN connected successfully"}},
        {"created", Answer(200, kCreatedAndAnother), true, {"Ok 200"}},
        {"500 with JSON",
         Answer(500, R"({"message":"boom"})"),
         true,
         {"Error checking requests", "Error 500", "boom"}},
        {"500 without JSON",
         Answer(500, "<html>oops</html>"),
         true,
         {"Error checking requests", "Error 500", "Unexpected error"}},
        {"401", Answer(401, R"({"message":"expired"})"), true, {"Error checking requests"}},
        {"cut reply",
         cut,
         true,
         {"Could not read data", "Error checking requests", "Network error"}},
        {"service down", down, true, {"12029", "Error checking requests", "Network error"}},
        {"not JSON", Answer(200, "<html>"), false, {"Ok 200", "VPN disconnected successfully"}},
        {"request again", Answer(200, kRequest), true, {"VPN connected successfully"}},
        {"adapter gone", Answer(200, kCreatedOnly), false, {"VPN disconnected successfully"}, true},
        {"dial fails", Answer(200, kRequest), false, {"Error 633 starting VPN"}, false, true},
        {"empty list", Answer(200, R"({"data":[]})"), false, {"Ok 200"}},
    };
}

int Rounds() {
    const char* text = std::getenv("LUMIVO_SOAK_ROUNDS");
    const int rounds = text != nullptr ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : 5000;
}

class SoakOverFakes : public ::testing::Test, protected FakeAgent {
  protected:
    SoakOverFakes() {
        agent.ports.ipHelper = &linkedIpHelper;
        agent.taskbarCreatedMessage = system.RegisterWindowMessage(L"TaskbarCreated");
        files.SetContent(settingsFilePath, R"({"id":7,"password":"pw","connectionsEnabled":true,)"
                                           R"("connectionsPassword":"cp","vpnEnabled":true})");
        internet.responder = [this](const FakeInternet::SentRequest& sent) {
            if (sent.relativePath == "devices/7/login") return Answer(200, R"({"token":"tk"})");
            if (sent.relativePath == "connections/check-requests") return phase->poll;
            if (sent.relativePath == "devices/7/heart-beat") return HeartBeat();
            return Answer(200, "");
        };
    }

    // The heart-beat meets every kind of answer too; none of them may matter.
    FakeInternet::Reply HeartBeat() {
        switch (heartBeats++ % 4) {
            case 0:
                return Answer(200, "");
            case 1:
                return Answer(401, R"({"message":"expired"})");
            case 2: {
                FakeInternet::Reply down;
                down.sendFails = true;
                return down;
            }
            default: {
                FakeInternet::Reply cut = Answer(200, std::string(300, 'x'));
                cut.failReadAfter = 2;
                return cut;
            }
        }
    }

    // Drops what the fakes recorded, so that only the agent can make the heap grow.
    void ForgetRecords() {
        console.Clear();
        internet.calls.clear();
        internet.sessions.clear();
        internet.cracks.clear();
        internet.connects.clear();
        internet.queriedOptions.clear();
        internet.setOptions.clear();
        internet.queryInfos.clear();
        internet.readSizes.clear();
        internet.closed.clear();
        internet.sent.clear();
        ras.calls.clear();
        ras.enumCapacities.clear();
        ras.statusAsked.clear();
        ras.hungUp.clear();
        ras.deleted.clear();
        ras.entriesSet.clear();
        ras.dials.clear();
        linkedIpHelper.sizesOffered.clear();
        system.translated.clear();
        system.dispatched.clear();
        system.sleeps.clear();
        ui.calls.clear();
        ui.shellCalls.clear();
    }

    void CheckRound(int round) {
        SCOPED_TRACE("round " + std::to_string(round) + ": " + phase->name);
        EXPECT_EQ(agent.vpnConnected, phase->vpnAfter);
        EXPECT_EQ(agent.vpnIpAddress, phase->vpnAfter ? "10.8.0.6" : "");
        EXPECT_EQ(internet.OpenHandles(), 0u);
        EXPECT_TRUE(ras.phoneBook.empty());
        const auto lines = console.Lines();
        for (const std::string& line : phase->mustLog) {
            EXPECT_THAT(lines, Contains(line));
        }
        if (vpnBefore && phase->vpnAfter) {
            // Kept up means never dropped in between, not dropped and redialled.
            EXPECT_THAT(lines, Not(Contains("VPN disconnected successfully")));
            EXPECT_TRUE(ras.hungUp.empty());
            EXPECT_TRUE(ras.dials.empty());
        }
        if (agent.vpnConnected) ++roundsUp;
    }

    void NextRound() {
        if (round > 0) CheckRound(round - 1);
        ras.dialResult.reset();
        if (round == warmUpRounds) heapAfterWarmUp = test::HeapInUse();
        if (round == rounds || HasFailure()) {
            heapAtEnd = test::HeapInUse();
            system.PostQuitMessage(0);
            return;
        }
        ForgetRecords();
        vpnBefore = agent.vpnConnected;
        phase = &phases[round % phases.size()];
        if (phase->adapterVanishes) ras.connections.clear();
        if (phase->dialFails) ras.dialResult = 633;
        system.PostTickOfEveryTimer();
        ++round;
    }

    test::ConsoleCapture console;
    LinkedIpHelper linkedIpHelper{ras};

    const std::vector<Phase> phases = Phases();
    const Phase* phase = &phases[0];
    const int rounds = Rounds();
    const int warmUpRounds = std::min(500, rounds / 2);
    int round = 0;
    int heartBeats = 0;
    int roundsUp = 0;
    bool vpnBefore = false;
    std::size_t heapAfterWarmUp = 0;
    std::size_t heapAtEnd = 0;
};

TEST_F(SoakOverFakes, ThousandsOfRoundsKeepTheStateRightAndTheHeapFlat) {
    system.commandLine = L"lumivo.exe -d";
    system.onIdle = [this] { NextRound(); };
    CAgentApp app(agent);
    app.RunAgent();

    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(round, rounds);
    EXPECT_GT(roundsUp, rounds / 3);
    // Shutdown after the last round told the service and left the VPN down.
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_EQ(internet.sent.back().relativePath, "connections/disconnect-all");
    EXPECT_EQ(internet.OpenHandles(), 0u);
    // No growth: what the agent holds after thousands of rounds is what it held
    // after warm-up, give or take allocator slack.
    EXPECT_LE(heapAtEnd, heapAfterWarmUp + 16 * 1024)
        << "after warm-up " << heapAfterWarmUp << " bytes, at the end " << heapAtEnd;
}

}  // namespace
}  // namespace lumivo

// The real agent binary against devcloud for a while (60 s here,
// LUMIVO_SOAK_SECONDS for longer: scripts/soak.sh runs it for an hour), with
// its VPN up and a reply cut short every now and then. Its resident memory is
// sampled every 5 s and must stay flat after warm-up; its descriptors too.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/faults_agent.h"

namespace lumivo {
namespace {

int SoakSeconds() {
    const char* text = std::getenv("LUMIVO_SOAK_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 60;
}

TEST(SoakBinary, ResidentMemoryAndDescriptorsStayFlatWhileTheAgentRuns) {
    DevCloud cloud;
    ASSERT_TRUE(cloud.Start());
    test::EnrolledAgent agent(cloud);
    ASSERT_TRUE(agent.enrolled());
    ASSERT_NE(cloud.CreateVpnRequest(agent.id(), "vpn.example", "user", "pw", "", "psk"), 0);
    ASSERT_TRUE(agent.Start());
    const int up = agent.WaitForLines({"VPN connected successfully"}, -1, 20);
    ASSERT_GE(up, 0);
    ASSERT_GE(agent.WaitForLines({"Ok 200"}, up, 12), 0);

    const int seconds = SoakSeconds();
    const int samples = seconds / 5;
    const int warmUp = std::max(3, samples / 4);
    const int descriptors = agent.OpenDescriptors();
    std::vector<long> rss;
    const auto start = std::chrono::steady_clock::now();
    for (int sample = 1; sample <= samples; ++sample) {
        // Every fourth sample the next poll is cut inside its body: no answer,
        // so the VPN stays up.
        if (sample % 4 == 0) {
            FaultSpec cut;
            cut.path = "/api/connections/check-requests";
            cut.status = 200;
            cut.body = "{\"data\":[],\"padding\":\"" + std::string(2000, 'p') + "\"}";
            cut.drop = true;
            cut.dropAfterBytes = 1000;
            cloud.AddFault(cut);
        }
        std::this_thread::sleep_until(start + std::chrono::seconds(5 * sample));
        // Reading the lines keeps the agent's output pipe from filling up.
        agent.process().WaitFor([](const std::string&) { return false; }, 0.1);
        rss.push_back(agent.RssKb());
        ASSERT_TRUE(agent.Running());
    }
    std::cout << "RSS kB every 5 s:";
    for (long kb : rss) std::cout << ' ' << kb;
    std::cout << std::endl;

    // Flat: nothing after warm-up above the largest warm-up sample, give or
    // take a few pages of allocator slack.
    const long warm = *std::max_element(rss.begin(), rss.begin() + warmUp);
    const long peak = *std::max_element(rss.begin() + warmUp, rss.end());
    if (test::kResidentMemoryIsMeaningful) {
        EXPECT_LE(peak, warm + 256) << "warm-up " << warm << " kB, later peak " << peak << " kB";
    }
    EXPECT_EQ(agent.OpenDescriptors(), descriptors)
        << ::testing::PrintToString(agent.Descriptors());

    // It ticked all along, kept its VPN and never took a cut reply for an empty list.
    const int last = agent.LastLine();
    int polls = 0;
    for (int i = up; i <= last; ++i) polls += agent.process().Lines()[i].text == "Ok 200";
    EXPECT_GE(polls, samples - samples / 4 - 2);
    EXPECT_FALSE(agent.Logged("VPN disconnected successfully", up, last));
    EXPECT_TRUE(agent.Logged("Network error", up, last) || samples < 4);
    EXPECT_EQ(agent.process().Stop(), 0);
}

}  // namespace
}  // namespace lumivo

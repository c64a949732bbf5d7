// The adapter list and its three walks, over a fake IP Helper.

#include "connections/adapters.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "fakes/fake_ip_helper.h"

namespace lumivo {
namespace {

class AdaptersTest : public ::testing::Test {
  protected:
    AdaptersTest() { agent.ports.ipHelper = &ipHelper; }

    std::string Report() {
        JsonTree report(BuildInterfaceReport(agent));
        char* text = cJSON_PrintUnformatted(report.get());
        std::string result = text;
        cJSON_free(text);
        return result;
    }

    FakeIpHelper ipHelper;
    Agent agent;
};

TEST_F(AdaptersTest, OneAdapterFitsTheFirstLook) {
    ipHelper.adapters = {MakeAdapter("eth0", {{"192.168.1.5", "255.255.255.0"}})};
    AdapterList list;
    ASSERT_TRUE(GetAdapterList(agent, list));
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(ipHelper.sizesOffered, (std::vector<unsigned long>{648}));
}

TEST_F(AdaptersTest, MoreAdaptersTakeOneResizedSecondCall) {
    ipHelper.adapters = {MakeAdapter("a"), MakeAdapter("b"), MakeAdapter("c")};
    AdapterList list;
    ASSERT_TRUE(GetAdapterList(agent, list));
    EXPECT_EQ(list.size(), 3u);
    EXPECT_EQ(ipHelper.sizesOffered, (std::vector<unsigned long>{648, 3 * 648}));
}

TEST_F(AdaptersTest, NoListWhenThePlatformFails) {
    ipHelper.failWith = 232;
    AdapterList list;
    EXPECT_FALSE(GetAdapterList(agent, list));
    EXPECT_FALSE(IsVpnAdapterPresent(agent));
    std::string address;
    EXPECT_FALSE(FindVpnAddress(agent, address));
    EXPECT_EQ(Report(), "{}");
    // Never a third call: one first look and nothing else per walk.
    EXPECT_EQ(ipHelper.sizesOffered.size(), 4u);
}

TEST_F(AdaptersTest, SecondCallFailingGivesNoList) {
    // An adapter that comes up between the two calls leaves the second one
    // short of room too; there is no third call.
    struct Growing : FakeIpHelper {
        unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size) override {
            adapters.push_back(MakeAdapter("new"));
            return FakeIpHelper::GetAdaptersInfo(list, size);
        }
    } growing;
    growing.adapters = {MakeAdapter("a")};
    agent.ports.ipHelper = &growing;
    AdapterList list;
    EXPECT_FALSE(GetAdapterList(agent, list));
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(growing.sizesOffered, (std::vector<unsigned long>{648, 2 * 648}));
}

TEST_F(AdaptersTest, VpnAdapterIsRecognisedByItsExactName) {
    ipHelper.adapters = {MakeAdapter("eth0"), MakeAdapter("l2tp line 0"),
                         MakeAdapter("L2TP Line 0 ")};
    EXPECT_FALSE(IsVpnAdapterPresent(agent));
    ipHelper.adapters.push_back(MakeAdapter("L2TP Line 0"));
    EXPECT_TRUE(IsVpnAdapterPresent(agent));
}

TEST_F(AdaptersTest, VpnAddressIsTheFirstAssignedOne) {
    ipHelper.adapters = {MakeAdapter("eth0", {{"192.168.1.5", "255.255.255.0"}}),
                         MakeAdapter("L2TP Line 0", {{"0.0.0.0", "0.0.0.0"},
                                                     {"10.0.0.7", "255.255.255.255"},
                                                     {"10.0.0.8", "255.255.255.255"}})};
    std::string address;
    EXPECT_TRUE(FindVpnAddress(agent, address));
    EXPECT_EQ(address, "10.0.0.7");
}

TEST_F(AdaptersTest, NoVpnAddressWhileOnlyZeroesAreListed) {
    ipHelper.adapters = {MakeAdapter("eth0", {{"192.168.1.5", "255.255.255.0"}}),
                         MakeAdapter("L2TP Line 0")};
    std::string address;
    EXPECT_FALSE(FindVpnAddress(agent, address));
    // A differently cased adapter with an address is not the VPN's.
    ipHelper.adapters.push_back(MakeAdapter("L2TP LINE 0", {{"10.0.0.7", "255.255.255.255"}}));
    EXPECT_FALSE(FindVpnAddress(agent, address));
}

TEST_F(AdaptersTest, ReportKeepsOrderAndLeavesOutTheVpnAdapter) {
    ipHelper.adapters = {
        MakeAdapter("wlan0", {{"192.168.1.5", "255.255.255.0"}, {"192.168.2.5", "255.255.0.0"}}),
        MakeAdapter("L2TP Line 0", {{"10.0.0.7", "255.255.255.255"}}),
        MakeAdapter("eth1"),
        MakeAdapter("l2tp line 0", {{"10.0.0.9", "255.0.0.0"}}),
        MakeAdapter("eth1", {{"1.2.3.4", "255.0.0.0"}}),
    };
    EXPECT_EQ(Report(),
              "{\"wlan0\":[{\"ip\":\"192.168.1.5\",\"mask\":\"255.255.255.0\"},"
              "{\"ip\":\"192.168.2.5\",\"mask\":\"255.255.0.0\"}],"
              "\"eth1\":[{\"ip\":\"0.0.0.0\",\"mask\":\"0.0.0.0\"}],"
              "\"l2tp line 0\":[{\"ip\":\"10.0.0.9\",\"mask\":\"255.0.0.0\"}],"
              "\"eth1\":[{\"ip\":\"1.2.3.4\",\"mask\":\"255.0.0.0\"}]}");
}

}  // namespace
}  // namespace lumivo

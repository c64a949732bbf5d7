// Bringing the VPN up and down over a fake RAS.

#include "connections/vpn.h"

#include <gmock/gmock.h>

#include "connections_fixture.h"

namespace lumivo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class VpnTest : public ConnectionsTest {
  protected:
    bool Start(std::string key = "psk") {
        return StartVpn(agent, "vpn.example.net", "user", "pass", "CORP", key);
    }
    // A dial brings up the L2TP adapter with its address.
    void AddressOnDial(const std::string& address = "10.8.0.6") {
        ras.afterDial = [this, address] {
            ipHelper.adapters.push_back(MakeAdapter("L2TP Line 0", {{address, "255.255.255.255"}}));
        };
    }
};

// ---- StopVpn and FindVpnConnection ----

TEST_F(VpnTest, StopWithoutAConnectionTellsTheServiceAndSucceeds) {
    EXPECT_TRUE(StopVpn(agent, true));
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
    EXPECT_EQ(internet.sent[0].body, "");
    EXPECT_THAT(Lines(), ElementsAre("No current connections", "VPN disconnected successfully"));
    EXPECT_THAT(ras.hungUp, IsEmpty());
}

TEST_F(VpnTest, StopHangsUpTheVpnAndClearsTheState) {
    VpnUp();
    EXPECT_TRUE(StopVpn(agent, false));
    EXPECT_THAT(Requests(), IsEmpty());
    EXPECT_THAT(ras.connections, IsEmpty());
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_EQ(agent.vpnIpAddress, "");
    EXPECT_THAT(ras.enumCapacities, ElementsAre(10u));
}

TEST_F(VpnTest, VpnListedAfterAnotherConnectionIsFoundAndHungUp) {
    ras.AddConnection(L"Serial Cable on COM1:");
    VpnUp();
    RasConnHandle vpn = ras.connections[1].handle;
    RasConnHandle found = nullptr;
    EXPECT_TRUE(FindVpnConnection(agent, found));
    EXPECT_EQ(found, vpn);
    EXPECT_TRUE(StopVpn(agent, false));
    EXPECT_THAT(ras.hungUp, ElementsAre(vpn));
    ASSERT_EQ(ras.connections.size(), 1u);
    EXPECT_EQ(ras.connections[0].deviceName, L"Serial Cable on COM1:");
}

TEST_F(VpnTest, ConnectionOnAnotherDeviceIsNotTheVpn) {
    ras.AddConnection(L"Serial Cable on COM1:");
    ras.AddConnection(L"l2tp line 0");
    agent.vpnConnected = true;
    agent.vpnIpAddress = "10.8.0.6";
    EXPECT_TRUE(StopVpn(agent, false));
    EXPECT_THAT(ras.hungUp, IsEmpty());
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_THAT(Lines(), ElementsAre("First RAS connection is not the corrupted one",
                                     "VPN disconnected successfully"));
}

TEST_F(VpnTest, FailuresToFindTheConnectionCountAsNoVpn) {
    ras.enumResult = 603;
    RasConnHandle found = nullptr;
    EXPECT_FALSE(FindVpnConnection(agent, found));
    ras.enumResult.reset();
    VpnUp();
    ras.statusResult = 6;
    EXPECT_FALSE(FindVpnConnection(agent, found));
    EXPECT_TRUE(StopVpn(agent, false));
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_THAT(
        Lines(),
        ElementsAre("Could not enumerate RAS connections", "Could not get RAS connection status",
                    "Could not get RAS connection status", "VPN disconnected successfully"));
}

TEST_F(VpnTest, HangUpCodes) {
    VpnUp();
    ras.hangUpResult = 87;  // counts as done
    EXPECT_TRUE(StopVpn(agent, false));
    EXPECT_FALSE(agent.vpnConnected);

    VpnUp("10.8.0.9");
    ras.hangUpResult = 668;
    EXPECT_FALSE(StopVpn(agent, true));
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_EQ(agent.vpnIpAddress, "10.8.0.9");
    EXPECT_EQ(Lines().back(), "Error 668 stopping VPN");
    // The service was told before the hang-up was tried.
    EXPECT_THAT(Requests(), ElementsAre("DELETE connections/disconnect-all"));
}

TEST_F(VpnTest, DeleteEntryResults) {
    EXPECT_TRUE(DeleteVpnEntry(agent));  // no entry: code 2
    ras.deleteResult = 0;
    EXPECT_TRUE(DeleteVpnEntry(agent));
    ras.deleteResult = 5;
    EXPECT_FALSE(DeleteVpnEntry(agent));
    EXPECT_THAT(Lines(), ElementsAre("Error 5 deleting VPN entry"));
    EXPECT_THAT(ras.deleted, ElementsAre(L"Lumivo 0", L"Lumivo 0", L"Lumivo 0"));
}

// ---- StartVpn ----

TEST_F(VpnTest, StartStoresTheEntryDialsAndDeletesTheEntryAtOnce) {
    AddressOnDial();
    ASSERT_TRUE(Start("ab"));
    EXPECT_TRUE(agent.vpnConnected);
    EXPECT_EQ(agent.vpnIpAddress, "10.8.0.6");
    EXPECT_THAT(ras.calls, ElementsAre("RasDeleteEntry", "RasEnumConnections",
                                       "RasSetEntryProperties", "RasDial", "RasDeleteEntry"));
    EXPECT_THAT(ras.phoneBook, IsEmpty());
    EXPECT_THAT(Requests(), IsEmpty());  // the stop before the dial does not tell the service
    EXPECT_THAT(system.sleeps, IsEmpty());
    EXPECT_THAT(Lines(), ElementsAre("No current connections", "VPN disconnected successfully",
                                     "VPN connected successfully"));

    ASSERT_EQ(ras.entriesSet.size(), 1u);
    EXPECT_EQ(ras.entriesSet[0].first, L"Lumivo 0");
    const RasEntry& entry = ras.entriesSet[0].second.entry;
    EXPECT_EQ(entry.dwfOptions, 0x00540000u);
    EXPECT_EQ(entry.szLocalPhoneNumber, L"vpn.example.net");
    EXPECT_EQ(entry.szDeviceType, L"vpn");
    EXPECT_EQ(entry.szDeviceName, L"L2TP Line 0");
    EXPECT_THAT(ras.entriesSet[0].second.deviceInfo,
                ElementsAre(1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0, 0, 32, 0, 0, 0, 'a', 0, 'b', 0));

    ASSERT_EQ(ras.dials.size(), 1u);
    EXPECT_EQ(ras.dials[0].szEntryName, L"Lumivo 0");
    EXPECT_EQ(ras.dials[0].szUserName, L"user");
    EXPECT_EQ(ras.dials[0].szPassword, L"pass");
    EXPECT_EQ(ras.dials[0].szDomain, L"CORP");
}

TEST_F(VpnTest, DeviceConfigurationBlock) {
    std::vector<std::uint8_t> empty = BuildDeviceConfiguration(L"");
    EXPECT_EQ(empty.size(), 32u);
    EXPECT_EQ(empty[12], 0);  // word 3: the key's length in bytes
    // A character beyond 16 bits takes two UTF-16 code units.
    std::vector<std::uint8_t> wide =
        BuildDeviceConfiguration(std::wstring(1, static_cast<wchar_t>(0x1F600)));
    ASSERT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 34u : 36u);
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(wide[12], 4);
        EXPECT_THAT(std::vector<std::uint8_t>(wide.begin() + 32, wide.end()),
                    ElementsAre(0x3D, 0xD8, 0x00, 0xDE));
    }
}

TEST_F(VpnTest, LeftoverVpnIsHungUpWithoutTellingTheService) {
    AddressOnDial();
    RasConnHandle leftover = ras.AddConnection(L"L2TP Line 0");
    ASSERT_TRUE(Start());
    EXPECT_THAT(ras.hungUp, ElementsAre(leftover));
    EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(VpnTest, EntryNotStoredMeansNothingDialled) {
    ras.setEntryResult = 87;
    EXPECT_FALSE(Start());
    EXPECT_THAT(ras.dials, IsEmpty());
    EXPECT_EQ(Lines().back(), "Error 87 creating VPN entry");
    EXPECT_FALSE(agent.vpnConnected);
}

TEST_F(VpnTest, FailedDialStillDeletesTheEntryAndHangsUp) {
    ras.dialResult = 691;
    EXPECT_FALSE(Start());
    EXPECT_THAT(ras.calls,
                ElementsAre("RasDeleteEntry", "RasEnumConnections", "RasSetEntryProperties",
                            "RasDial", "RasDeleteEntry", "RasEnumConnections"));
    EXPECT_THAT(ras.phoneBook, IsEmpty());
    EXPECT_THAT(Lines(), ElementsAre("No current connections", "VPN disconnected successfully",
                                     "Error 691 starting VPN", "No current connections",
                                     "VPN disconnected successfully"));
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_THAT(Requests(), IsEmpty());
}

TEST_F(VpnTest, AddressWaitLooksThreeTimes) {
    // Only "0.0.0.0" on the adapter until the third look.
    ras.afterDial = [this] { ipHelper.adapters.push_back(MakeAdapter("L2TP Line 0")); };
    ipHelper.afterLook = [this](int look) {
        if (look == 2)
            ipHelper.adapters.back() =
                MakeAdapter("L2TP Line 0", {{"10.8.0.7", "255.255.255.255"}});
    };
    ASSERT_TRUE(Start());
    EXPECT_EQ(agent.vpnIpAddress, "10.8.0.7");
    EXPECT_THAT(system.sleeps, ElementsAre(1000u, 1000u));
    EXPECT_THAT(Lines(), ElementsAre("No current connections", "VPN disconnected successfully",
                                     "Attempt 1/3", "Attempt 2/3", "VPN connected successfully"));
}

TEST_F(VpnTest, NoAddressAfterThreeLooksHangsUp) {
    ras.afterDial = [this] { ipHelper.adapters.push_back(MakeAdapter("L2TP Line 0")); };
    EXPECT_FALSE(Start());
    EXPECT_THAT(system.sleeps, ElementsAre(1000u, 1000u, 1000u));
    EXPECT_THAT(ras.connections, IsEmpty());
    EXPECT_FALSE(agent.vpnConnected);
    EXPECT_EQ(agent.vpnIpAddress, "");
    EXPECT_THAT(Lines(),
                ElementsAre("No current connections", "VPN disconnected successfully",
                            "Attempt 1/3", "Attempt 2/3", "Attempt 3/3",
                            "Error getting VPN Ip Address", "VPN disconnected successfully"));
}

TEST_F(VpnTest, ParametersLongerThanTheirFieldsAreRefused) {
    AddressOnDial();
    EXPECT_FALSE(StartVpn(agent, std::string(129, 'h'), "u", "p", "d", "k"));
    EXPECT_FALSE(StartVpn(agent, "h", std::string(257, 'u'), "p", "d", "k"));
    EXPECT_FALSE(StartVpn(agent, "h", "u", std::string(257, 'p'), "d", "k"));
    EXPECT_FALSE(StartVpn(agent, "h", "u", "p", std::string(16, 'd'), "k"));
    EXPECT_THAT(ras.entriesSet, IsEmpty());
    EXPECT_THAT(ras.dials, IsEmpty());
    std::vector<std::string> refusals;
    for (const std::string& line : Lines()) {
        if (line.rfind("VPN parameter too long", 0) == 0) refusals.push_back(line);
    }
    EXPECT_THAT(refusals,
                ElementsAre("VPN parameter too long: url", "VPN parameter too long: username",
                            "VPN parameter too long: password", "VPN parameter too long: domain"));
    // Exactly at capacity is fine.
    EXPECT_TRUE(StartVpn(agent, std::string(128, 'h'), std::string(256, 'u'), std::string(256, 'p'),
                         std::string(15, 'd'), std::string(300, 'k')));
    EXPECT_EQ(ras.dials.at(0).szDomain.size(), 15u);
}

}  // namespace
}  // namespace lumivo

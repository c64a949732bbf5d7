// What the POSIX adapters add beyond the port contract: the host's real
// interfaces, the simulated VPN's scripted outcomes and adapter, and how the
// NetworkManager backend reads an entry and NetworkManager's answers.

#include <net/if.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "platform/posix/ip_helper_posix.h"
#include "platform/posix/ras_networkmanager.h"
#include "platform/posix/ras_sim.h"

namespace lumivo {
namespace {

TEST(IpHelperPosix, ListsEveryHostInterfaceButTheLoopback) {
    AdapterList adapters;
    ASSERT_TRUE(ListHostAdapters(adapters));
    std::set<std::string> listed;
    for (const AdapterInfo& adapter : adapters) {
        EXPECT_TRUE(listed.insert(adapter.adapterName).second)
            << "listed twice: " << adapter.adapterName;
    }
    EXPECT_EQ(listed.count("lo"), 0u);
    struct if_nameindex* names = if_nameindex();
    ASSERT_NE(names, nullptr);
    for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
        if (std::string(n->if_name) != "lo") {
            EXPECT_EQ(listed.count(n->if_name), 1u) << n->if_name;
        }
    }
    if_freenameindex(names);
}

TEST(RasSimScript, ReadsEveryKeyAndSkipsWhatItCannotUse) {
    std::vector<int> ignored;
    RasSimScript script = ParseRasSimScript(
        "# outcomes\n"
        "dial=691\r\n"
        "address=10.1.2.3\n"
        "\n"
        "address_after=2\n"
        "hangup=5\n"
        "drop_after=4\n"
        "colour=blue\n"
        "dial=-1\n"
        "hangup=x\n",
        &ignored);
    EXPECT_EQ(script.dialResult, 691u);
    EXPECT_EQ(script.address, "10.1.2.3");
    EXPECT_EQ(script.addressAfterLooks, 2);
    EXPECT_EQ(script.hangUpResult, 5u);
    EXPECT_EQ(script.dropAfterLooks, 4);
    EXPECT_EQ(ignored, (std::vector<int>{8, 9, 10}));
    EXPECT_EQ(ParseRasSimScript("address=none\n").address, "");
    RasSimScript defaults = ParseRasSimScript("");
    EXPECT_EQ(defaults.dialResult, 0u);
    EXPECT_FALSE(defaults.address.empty());
    EXPECT_EQ(defaults.dropAfterLooks, -1);
}

class RasSimTest : public ::testing::Test {
  protected:
    static std::string TempPath() {
        char pattern[] = "/tmp/lumivo-ras-script-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        return pattern;
    }
    ~RasSimTest() override { std::remove(path.c_str()); }

    void Script(const std::string& text) { std::ofstream(path) << text; }

    // The simulated VPN's adapter entry as the IP Helper lists it, or "".
    std::string VpnLook() {
        unsigned long size = 0;
        AdapterList list;
        ipHelper.GetAdaptersInfo(nullptr, size);
        if (ipHelper.GetAdaptersInfo(&list, size) != 0) return "error";
        for (const AdapterInfo& adapter : list) {
            if (adapter.adapterName == "L2TP Line 0") return adapter.ipAddressList.at(0).ipAddress;
        }
        return "";
    }

    unsigned long Dial() {
        RasEntry entry;
        entry.szDeviceType = L"vpn";
        entry.szDeviceName = L"L2TP Line 0";
        entry.szLocalPhoneNumber = L"vpn.example.net";
        EXPECT_EQ(ras.RasSetEntryProperties(L"Lumivo 0", entry, {}), 0u);
        RasDialParams params;
        params.szEntryName = L"Lumivo 0";
        return ras.RasDial(params, handle);
    }

    std::string path = TempPath();
    RasSim ras{path};
    IpHelperPosix ipHelper{&ras};
    RasConnHandle handle = nullptr;
};

TEST_F(RasSimTest, AdapterComesWithTheConnectionAndGoesWithTheHangUp) {
    EXPECT_EQ(VpnLook(), "");
    ASSERT_EQ(Dial(), 0u);
    EXPECT_EQ(VpnLook(), "10.99.0.2");
    EXPECT_EQ(ras.RasHangUp(handle), 0u);
    EXPECT_EQ(VpnLook(), "");
}

TEST_F(RasSimTest, AddressShowsAfterTheScriptedLooks) {
    Script("address=10.7.7.7\naddress_after=2\n");
    ASSERT_EQ(Dial(), 0u);
    EXPECT_EQ(VpnLook(), "0.0.0.0");
    EXPECT_EQ(VpnLook(), "0.0.0.0");
    EXPECT_EQ(VpnLook(), "10.7.7.7");
}

TEST_F(RasSimTest, NoAddressEver) {
    Script("address=none\n");
    ASSERT_EQ(Dial(), 0u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(VpnLook(), "0.0.0.0");
}

TEST_F(RasSimTest, ScriptedDialAndHangUpResults) {
    Script("dial=691\n");
    EXPECT_EQ(Dial(), 691u);
    EXPECT_EQ(VpnLook(), "");
    // The script is read again at every call.
    Script("hangup=668\n");
    ASSERT_EQ(Dial(), 0u);
    EXPECT_EQ(ras.RasHangUp(handle), 668u);
    EXPECT_EQ(VpnLook(), "10.99.0.2");
    Script("");
    EXPECT_EQ(ras.RasHangUp(handle), 0u);
}

TEST_F(RasSimTest, LinkDropsAfterTheScriptedLooks) {
    Script("drop_after=2\n");
    ASSERT_EQ(Dial(), 0u);
    EXPECT_EQ(VpnLook(), "10.99.0.2");
    EXPECT_EQ(VpnLook(), "10.99.0.2");
    EXPECT_EQ(VpnLook(), "");
    RasConn list[10];
    unsigned long count = 9;
    EXPECT_EQ(ras.RasEnumConnections(list, 10, count), 0u);
    EXPECT_EQ(count, 0u);
}

// The entry and dial parameters as the L2TP plugin's configuration; the key
// out of the device-configuration block as the core builds it.
TEST(RasNetworkManager, EntryBecomesThePluginsConfiguration) {
    RasEntry entry;
    entry.dwfOptions = raseoProhibitPap | raseoProhibitMsChap | raseoProhibitEap;
    entry.szLocalPhoneNumber = L"vpn.example.net";
    RasDialParams params;
    params.szUserName = L"d\u00e9v";
    params.szDomain = L"CORP";
    std::map<std::string, std::string> data = L2tpData(entry, params);
    EXPECT_EQ(data["gateway"], "vpn.example.net");
    EXPECT_EQ(data["user"], "d\xc3\xa9v");
    EXPECT_EQ(data["domain"], "CORP");
    EXPECT_EQ(data["ipsec-enabled"], "yes");
    EXPECT_EQ(data["refuse-pap"], "yes");
    EXPECT_EQ(data["refuse-mschap"], "yes");
    EXPECT_EQ(data["refuse-eap"], "yes");
    EXPECT_EQ(data["refuse-chap"], "no");
    EXPECT_EQ(data.count("password"), 0u);  // secrets travel apart
    EXPECT_EQ(data.count("mschapv2"), 0u);
    params.szDomain.clear();
    entry.dwfOptions = 0;
    data = L2tpData(entry, params);
    EXPECT_EQ(data.count("domain"), 0u);
    EXPECT_EQ(data["refuse-pap"], "no");

    std::vector<std::uint8_t> block(32, 0);
    block[0] = 1, block[4] = 2, block[12] = 6, block[16] = 32, block[28] = 32;
    for (char c : std::string("k\xe9y")) block.insert(block.end(), {std::uint8_t(c), 0});
    EXPECT_EQ(PresharedKeyFromBlock(block), L"k\u00e9y");
    // A character beyond the basic plane is one surrogate pair in the block.
    block[12] = 10;
    block.insert(block.end(), {0x3D, 0xD8, 0x11, 0xDE});  // U+1F611
    EXPECT_EQ(PresharedKeyFromBlock(block), L"k\u00e9y\U0001F611");
    EXPECT_EQ(PresharedKeyFromBlock(std::vector<std::uint8_t>(32, 0)), L"");
    block[12] = 200;  // a length past the block's end
    EXPECT_EQ(PresharedKeyFromBlock(block), L"");
    EXPECT_EQ(PresharedKeyFromBlock(std::vector<std::uint8_t>(8, 0)), L"");
}

TEST(RasNetworkManager, FailureReasonsAsRasErrors) {
    EXPECT_EQ(RasErrorForVpnFailure(10), 691u);  // login failed
    EXPECT_EQ(RasErrorForVpnFailure(9), 691u);   // no secrets
    EXPECT_EQ(RasErrorForVpnFailure(0), 691u);   // the plugin stopped: PPP refused us
    EXPECT_EQ(RasErrorForVpnFailure(6), 800u);   // connect time-out
    EXPECT_EQ(RasErrorForVpnFailure(8), 789u);   // the plugin could not start the tunnel
    EXPECT_EQ(RasErrorForVpnFailure(4), 633u);   // the plugin went away
}

// Without a system bus the dial fails as a device that is not there, and
// nothing is left listed.
TEST(RasNetworkManager, NoBusIsNoDevice) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumivo-bus", 1);
    RasNetworkManager ras;
    RasEntry entry;
    entry.szLocalPhoneNumber = L"vpn.example.net";
    entry.szDeviceType = L"vpn";
    entry.szDeviceName = L"L2TP Line 0";
    ASSERT_EQ(ras.RasSetEntryProperties(L"Lumivo 0", entry, std::vector<std::uint8_t>(32, 0)), 0u);
    RasDialParams params;
    params.szEntryName = L"Lumivo 0";
    RasConnHandle handle = nullptr;
    EXPECT_EQ(ras.RasDial(params, handle), 633u);
    params.szEntryName = L"Other";
    EXPECT_EQ(ras.RasDial(params, handle), 623u);
    RasConn list[10];
    unsigned long count = 9;
    EXPECT_EQ(ras.RasEnumConnections(list, 10, count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ras.RasDeleteEntry(L"Lumivo 0"), 0u);
    EXPECT_EQ(ras.RasDeleteEntry(L"Lumivo 0"), 2u);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace lumivo

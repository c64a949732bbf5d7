// What the POSIX adapters add beyond the port contract: the host's real
// interfaces, and the simulated VPN's scripted outcomes and adapter.

#include <net/if.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "platform/posix/ip_helper_posix.h"
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

}  // namespace
}  // namespace lumivo

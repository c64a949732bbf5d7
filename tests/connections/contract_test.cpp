// One suite per port, run against the in-memory fake and the POSIX adapter,
// so that the fakes the unit tests rely on behave like the real thing.

#include <arpa/inet.h>
#include <net/if.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "platform/posix/ip_helper_posix.h"
#include "platform/posix/ras_sim.h"

namespace lumivo {
namespace {

// ---- RAS ----

struct FakeRasMaker {
    std::unique_ptr<RasPort> Make() { return std::make_unique<FakeRas>(); }
};
struct RasSimMaker {
    std::unique_ptr<RasPort> Make() { return std::make_unique<RasSim>(""); }
};

template <typename Maker>
class RasContract : public ::testing::Test {
  protected:
    RasContract() : ras(Maker().Make()) {}

    unsigned long StoreVpnEntry(const std::wstring& name = L"Lumivo 0") {
        RasEntry entry;
        entry.dwfOptions = 0x00540000;
        entry.szLocalPhoneNumber = L"vpn.example.net";
        entry.szDeviceType = L"vpn";
        entry.szDeviceName = L"L2TP Line 0";
        return ras->RasSetEntryProperties(name, entry, std::vector<std::uint8_t>(32, 0));
    }
    unsigned long Dial(RasConnHandle& handle, const std::wstring& name = L"Lumivo 0") {
        RasDialParams params;
        params.szEntryName = name;
        params.szUserName = L"user";
        params.szPassword = L"secret";
        return ras->RasDial(params, handle);
    }
    unsigned long Count() {
        RasConn list[10];
        unsigned long count = 99;
        EXPECT_EQ(ras->RasEnumConnections(list, 10, count), 0u);
        return count;
    }

    std::unique_ptr<RasPort> ras;
};

using RasMakers = ::testing::Types<FakeRasMaker, RasSimMaker>;
TYPED_TEST_SUITE(RasContract, RasMakers);

TYPED_TEST(RasContract, StartsWithoutConnectionsOrEntries) {
    EXPECT_EQ(this->Count(), 0u);
    EXPECT_EQ(this->ras->RasDeleteEntry(L"Lumivo 0"), errorFileNotFound);
    RasConnHandle handle = nullptr;
    EXPECT_EQ(this->Dial(handle), errorCannotFindPhonebookEntry);
    RasConnStatus status;
    EXPECT_EQ(this->ras->RasGetConnectStatus(reinterpret_cast<RasConnHandle>(0x77), status),
              errorInvalidHandle);
    EXPECT_EQ(this->ras->RasHangUp(reinterpret_cast<RasConnHandle>(0x77)), errorInvalidHandle);
}

TYPED_TEST(RasContract, DialBringsUpAConnectionThatOutlivesItsEntry) {
    ASSERT_EQ(this->StoreVpnEntry(), 0u);
    RasConnHandle handle = nullptr;
    ASSERT_EQ(this->Dial(handle), 0u);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(this->ras->RasDeleteEntry(L"Lumivo 0"), 0u);
    EXPECT_EQ(this->ras->RasDeleteEntry(L"Lumivo 0"), errorFileNotFound);

    RasConn list[10];
    unsigned long count = 0;
    ASSERT_EQ(this->ras->RasEnumConnections(list, 10, count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0].hrasconn, handle);
    RasConnStatus status;
    ASSERT_EQ(this->ras->RasGetConnectStatus(handle, status), 0u);
    EXPECT_EQ(status.szDeviceName, L"L2TP Line 0");

    // Enumeration with too little room says how many there are.
    EXPECT_EQ(this->ras->RasEnumConnections(list, 0, count), errorBufferTooSmall);
    EXPECT_EQ(count, 1u);
}

TYPED_TEST(RasContract, OneConnectionPerDevice) {
    ASSERT_EQ(this->StoreVpnEntry(), 0u);
    RasConnHandle first = nullptr, second = nullptr;
    ASSERT_EQ(this->Dial(first), 0u);
    EXPECT_EQ(this->Dial(second), errorPortAlreadyOpen);
    EXPECT_EQ(this->Count(), 1u);
}

TYPED_TEST(RasContract, HangUpEndsTheConnection) {
    ASSERT_EQ(this->StoreVpnEntry(), 0u);
    RasConnHandle handle = nullptr;
    ASSERT_EQ(this->Dial(handle), 0u);
    EXPECT_EQ(this->ras->RasHangUp(handle), 0u);
    EXPECT_EQ(this->Count(), 0u);
    EXPECT_EQ(this->ras->RasHangUp(handle), errorInvalidHandle);
    RasConnStatus status;
    EXPECT_EQ(this->ras->RasGetConnectStatus(handle, status), errorInvalidHandle);
    // The line is free again.
    EXPECT_EQ(this->Dial(handle), 0u);
}

TYPED_TEST(RasContract, TextsLongerThanTheirFieldsAreRefused) {
    RasEntry entry;
    entry.szDeviceType = L"vpn";
    entry.szDeviceName = L"L2TP Line 0";
    entry.szLocalPhoneNumber = std::wstring(128, L'a');
    EXPECT_EQ(this->ras->RasSetEntryProperties(L"Lumivo 0", entry, {}), 0u);
    entry.szLocalPhoneNumber = std::wstring(129, L'a');
    EXPECT_EQ(this->ras->RasSetEntryProperties(L"Lumivo 0", entry, {}), errorInvalidParameter);
    EXPECT_EQ(this->StoreVpnEntry(std::wstring(21, L'n')), errorInvalidParameter);

    RasDialParams params;
    params.szEntryName = L"Lumivo 0";
    params.szDomain = std::wstring(16, L'd');
    RasConnHandle handle = nullptr;
    EXPECT_EQ(this->ras->RasDial(params, handle), errorInvalidParameter);
    params.szDomain.clear();
    params.szUserName = std::wstring(257, L'u');
    EXPECT_EQ(this->ras->RasDial(params, handle), errorInvalidParameter);
    params.szUserName.clear();
    params.szPassword = std::wstring(257, L'p');
    EXPECT_EQ(this->ras->RasDial(params, handle), errorInvalidParameter);
    EXPECT_EQ(this->Count(), 0u);
}

// ---- IP Helper ----

struct FakeIpHelperMaker {
    std::unique_ptr<IpHelperPort> Make() {
        auto fake = std::make_unique<FakeIpHelper>();
        fake->adapters = {MakeAdapter("eth0", {{"192.0.2.2", "255.255.255.0"}}),
                          MakeAdapter("ifb0")};
        return fake;
    }
};
struct IpHelperPosixMaker {
    std::unique_ptr<IpHelperPort> Make() { return std::make_unique<IpHelperPosix>(nullptr); }
};

template <typename Maker>
class IpHelperContract : public ::testing::Test {
  protected:
    IpHelperContract() : ipHelper(Maker().Make()) {}
    std::unique_ptr<IpHelperPort> ipHelper;
};

using IpHelperMakers = ::testing::Types<FakeIpHelperMaker, IpHelperPosixMaker>;
TYPED_TEST_SUITE(IpHelperContract, IpHelperMakers);

bool IsDottedIpv4(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

TYPED_TEST(IpHelperContract, TooLittleRoomGivesTheSizeNeeded) {
    unsigned long size = 0;
    EXPECT_EQ(this->ipHelper->GetAdaptersInfo(nullptr, size), errorBufferOverflow);
    EXPECT_GE(size, adapterRecordSize);
    EXPECT_EQ(size % adapterRecordSize, 0u);

    AdapterList list = {MakeAdapter("untouched")};
    unsigned long small = 1;
    EXPECT_EQ(this->ipHelper->GetAdaptersInfo(&list, small), errorBufferOverflow);
    EXPECT_EQ(small, size);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].adapterName, "untouched");
}

TYPED_TEST(IpHelperContract, TheSizeGivenIsEnoughForTheWholeList) {
    unsigned long size = 0;
    ASSERT_EQ(this->ipHelper->GetAdaptersInfo(nullptr, size), errorBufferOverflow);
    AdapterList list;
    ASSERT_EQ(this->ipHelper->GetAdaptersInfo(&list, size), 0u);
    EXPECT_EQ(list.size() * adapterRecordSize, size);
    for (const AdapterInfo& adapter : list) {
        EXPECT_FALSE(adapter.adapterName.empty());
        ASSERT_FALSE(adapter.ipAddressList.empty()) << adapter.adapterName;
        for (const IpAddrString& entry : adapter.ipAddressList) {
            EXPECT_TRUE(IsDottedIpv4(entry.ipAddress)) << entry.ipAddress;
            EXPECT_TRUE(IsDottedIpv4(entry.ipMask)) << entry.ipMask;
        }
    }
}

}  // namespace
}  // namespace lumivo

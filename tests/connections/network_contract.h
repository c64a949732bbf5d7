#pragma once
// What every RasPort and IpHelperPort must do, so that the fakes the unit
// tests rely on behave like the real thing. Each build instantiates the
// suites with its own implementations, each as an `Under` type:
//   RasContract, RasServiceContract:  RasPort& Ras();
//   IpHelperContract:  IpHelperPort& IpHelper();
//                      unsigned long recordSize;  // one adapter's record
//                      bool exactRoom;  // the size asked for is one record per adapter
// RasContract holds for every adapter (it checks the records before the
// platform sees them); RasServiceContract is what a working remote-access
// service does, which Wine's is not.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fakes/fake_ip_helper.h"
#include "platform/ip_helper_port.h"
#include "platform/ras_port.h"

namespace lumivo {

// ---- RAS ----

template <typename Under>
class RasContract : public ::testing::Test {
  protected:
    Under under;
    RasPort& ras() { return under.Ras(); }

    unsigned long StoreVpnEntry(const std::wstring& name = L"Lumivo 0") {
        RasEntry entry;
        entry.dwfOptions = 0x00540000;
        entry.szLocalPhoneNumber = L"vpn.example.net";
        entry.szDeviceType = L"vpn";
        entry.szDeviceName = L"L2TP Line 0";
        return ras().RasSetEntryProperties(name, entry, std::vector<std::uint8_t>(32, 0));
    }
    unsigned long Dial(RasConnHandle& handle, const std::wstring& name = L"Lumivo 0") {
        RasDialParams params;
        params.szEntryName = name;
        params.szUserName = L"user";
        params.szPassword = L"secret";
        return ras().RasDial(params, handle);
    }
    unsigned long Count() {
        RasConn list[10];
        unsigned long count = 99;
        EXPECT_EQ(ras().RasEnumConnections(list, 10, count), 0u);
        return count;
    }
};

TYPED_TEST_SUITE_P(RasContract);

TYPED_TEST_P(RasContract, TextsLongerThanTheirFieldsAreRefused) {
    RasEntry entry;
    entry.szDeviceType = L"vpn";
    entry.szDeviceName = L"L2TP Line 0";
    entry.szLocalPhoneNumber = std::wstring(128, L'a');
    EXPECT_EQ(this->ras().RasSetEntryProperties(L"Lumivo 0", entry, {}), 0u);
    entry.szLocalPhoneNumber = std::wstring(129, L'a');
    EXPECT_EQ(this->ras().RasSetEntryProperties(L"Lumivo 0", entry, {}), errorInvalidParameter);
    EXPECT_EQ(this->StoreVpnEntry(std::wstring(21, L'n')), errorInvalidParameter);

    RasDialParams params;
    params.szEntryName = L"Lumivo 0";
    params.szDomain = std::wstring(16, L'd');
    RasConnHandle handle = nullptr;
    EXPECT_EQ(this->ras().RasDial(params, handle), errorInvalidParameter);
    params.szDomain.clear();
    params.szUserName = std::wstring(257, L'u');
    EXPECT_EQ(this->ras().RasDial(params, handle), errorInvalidParameter);
    params.szUserName.clear();
    params.szPassword = std::wstring(257, L'p');
    EXPECT_EQ(this->ras().RasDial(params, handle), errorInvalidParameter);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(this->Count(), 0u);
}

REGISTER_TYPED_TEST_SUITE_P(RasContract, TextsLongerThanTheirFieldsAreRefused);

template <typename Under>
class RasServiceContract : public RasContract<Under> {};

TYPED_TEST_SUITE_P(RasServiceContract);

TYPED_TEST_P(RasServiceContract, StartsWithoutConnectionsOrEntries) {
    EXPECT_EQ(this->Count(), 0u);
    EXPECT_EQ(this->ras().RasDeleteEntry(L"Lumivo 0"), errorFileNotFound);
    RasConnHandle handle = nullptr;
    EXPECT_EQ(this->Dial(handle), errorCannotFindPhonebookEntry);
    RasConnStatus status;
    EXPECT_EQ(this->ras().RasGetConnectStatus(reinterpret_cast<RasConnHandle>(0x77), status),
              errorInvalidHandle);
    EXPECT_EQ(this->ras().RasHangUp(reinterpret_cast<RasConnHandle>(0x77)), errorInvalidHandle);
}

TYPED_TEST_P(RasServiceContract, DialBringsUpAConnectionThatOutlivesItsEntry) {
    ASSERT_EQ(this->StoreVpnEntry(), 0u);
    RasConnHandle handle = nullptr;
    ASSERT_EQ(this->Dial(handle), 0u);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(this->ras().RasDeleteEntry(L"Lumivo 0"), 0u);
    EXPECT_EQ(this->ras().RasDeleteEntry(L"Lumivo 0"), errorFileNotFound);

    RasConn list[10];
    unsigned long count = 0;
    ASSERT_EQ(this->ras().RasEnumConnections(list, 10, count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0].hrasconn, handle);
    RasConnStatus status;
    ASSERT_EQ(this->ras().RasGetConnectStatus(handle, status), 0u);
    EXPECT_EQ(status.szDeviceName, L"L2TP Line 0");

    // Enumeration with too little room says how many there are.
    EXPECT_EQ(this->ras().RasEnumConnections(list, 0, count), errorBufferTooSmall);
    EXPECT_EQ(count, 1u);
}

TYPED_TEST_P(RasServiceContract, OneConnectionPerDevice) {
    ASSERT_EQ(this->StoreVpnEntry(), 0u);
    RasConnHandle first = nullptr, second = nullptr;
    ASSERT_EQ(this->Dial(first), 0u);
    EXPECT_EQ(this->Dial(second), errorPortAlreadyOpen);
    EXPECT_EQ(this->Count(), 1u);
}

TYPED_TEST_P(RasServiceContract, HangUpEndsTheConnection) {
    ASSERT_EQ(this->StoreVpnEntry(), 0u);
    RasConnHandle handle = nullptr;
    ASSERT_EQ(this->Dial(handle), 0u);
    EXPECT_EQ(this->ras().RasHangUp(handle), 0u);
    EXPECT_EQ(this->Count(), 0u);
    EXPECT_EQ(this->ras().RasHangUp(handle), errorInvalidHandle);
    RasConnStatus status;
    EXPECT_EQ(this->ras().RasGetConnectStatus(handle, status), errorInvalidHandle);
    // The line is free again.
    EXPECT_EQ(this->Dial(handle), 0u);
}

REGISTER_TYPED_TEST_SUITE_P(RasServiceContract, StartsWithoutConnectionsOrEntries,
                            DialBringsUpAConnectionThatOutlivesItsEntry, OneConnectionPerDevice,
                            HangUpEndsTheConnection);

// ---- IP Helper ----

template <typename Under>
class IpHelperContract : public ::testing::Test {
  protected:
    Under under;
    IpHelperPort& ipHelper() { return under.IpHelper(); }

    static bool IsDottedIpv4(const std::string& text) {
        unsigned parts[4];
        char end = 0;
        if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2],
                        &parts[3], &end) != 4)
            return false;
        for (unsigned part : parts)
            if (part > 255) return false;
        return true;
    }
};

TYPED_TEST_SUITE_P(IpHelperContract);

TYPED_TEST_P(IpHelperContract, TooLittleRoomGivesTheSizeNeeded) {
    const unsigned long record = this->under.recordSize;
    unsigned long size = 0;
    EXPECT_EQ(this->ipHelper().GetAdaptersInfo(nullptr, size), errorBufferOverflow);
    EXPECT_GE(size, record);

    AdapterList list = {MakeAdapter("untouched")};
    unsigned long small = 1;
    EXPECT_EQ(this->ipHelper().GetAdaptersInfo(&list, small), errorBufferOverflow);
    EXPECT_EQ(small, size);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].adapterName, "untouched");
}

TYPED_TEST_P(IpHelperContract, TheSizeGivenIsEnoughForTheWholeList) {
    unsigned long size = 0;
    ASSERT_EQ(this->ipHelper().GetAdaptersInfo(nullptr, size), errorBufferOverflow);
    AdapterList list;
    ASSERT_EQ(this->ipHelper().GetAdaptersInfo(&list, size), 0u);
    if (this->under.exactRoom) {
        EXPECT_EQ(list.size() * this->under.recordSize, size);
    } else {
        EXPECT_LE(list.size() * this->under.recordSize, size);
    }
    for (const AdapterInfo& adapter : list) {
        EXPECT_FALSE(adapter.adapterName.empty());
        ASSERT_FALSE(adapter.ipAddressList.empty()) << adapter.adapterName;
        for (const IpAddrString& entry : adapter.ipAddressList) {
            EXPECT_TRUE(this->IsDottedIpv4(entry.ipAddress)) << entry.ipAddress;
            EXPECT_TRUE(this->IsDottedIpv4(entry.ipMask)) << entry.ipMask;
        }
    }
}

REGISTER_TYPED_TEST_SUITE_P(IpHelperContract, TooLittleRoomGivesTheSizeNeeded,
                            TheSizeGivenIsEnoughForTheWholeList);

}  // namespace lumivo

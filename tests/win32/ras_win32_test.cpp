// The RAS adapter under Wine: what Wine's remote-access service does (it
// keeps entries but cannot dial), and the field capacities, which the
// adapter enforces before the platform sees a record.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/ras_win32.h"

namespace lumivo {
namespace {

RasEntry VpnEntry() {
    RasEntry entry;
    entry.dwfOptions = raseoProhibitPap | raseoProhibitMsChap | raseoProhibitEap;
    entry.szLocalPhoneNumber = L"vpn.example.net";
    entry.szDeviceType = L"vpn";
    entry.szDeviceName = L"L2TP Line 0";
    return entry;
}

RasDialParams DialParams() {
    RasDialParams params;
    params.szEntryName = L"Lumivo 0";
    params.szUserName = L"user";
    params.szPassword = L"secret";
    return params;
}

TEST(Win32Ras, NoConnectionsAreListedAndTheEntryIsStoredAndDeleted) {
    Win32Ras ras;
    RasConn connections[10];
    unsigned long count = 99;
    EXPECT_EQ(ras.RasEnumConnections(connections, 10, count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ras.RasSetEntryProperties(L"Lumivo 0", VpnEntry(), std::vector<std::uint8_t>(32)),
              0u);
    EXPECT_EQ(ras.RasDeleteEntry(L"Lumivo 0"), 0u);
}

TEST(Win32Ras, WineCannotDial) {
    Win32Ras ras;
    ASSERT_EQ(ras.RasSetEntryProperties(L"Lumivo 0", VpnEntry(), std::vector<std::uint8_t>(32)),
              0u);
    RasConnHandle connection = nullptr;
    EXPECT_NE(ras.RasDial(DialParams(), connection), 0u);
    ras.RasDeleteEntry(L"Lumivo 0");
}

TEST(Win32Ras, TextsLongerThanTheirFieldsAreRefusedNotCut) {
    Win32Ras ras;
    RasEntry entry = VpnEntry();
    entry.szLocalPhoneNumber = std::wstring(rasMaxPhoneNumber, L'a');
    EXPECT_EQ(ras.RasSetEntryProperties(L"Lumivo 0", entry, {}), 0u);
    ras.RasDeleteEntry(L"Lumivo 0");
    entry.szLocalPhoneNumber += L'a';
    EXPECT_EQ(ras.RasSetEntryProperties(L"Lumivo 0", entry, {}), errorInvalidParameter);
    EXPECT_EQ(ras.RasSetEntryProperties(std::wstring(rasMaxEntryName + 1, L'e'), VpnEntry(), {}),
              errorInvalidParameter);

    RasConnHandle connection = nullptr;
    RasDialParams params = DialParams();
    params.szDomain = std::wstring(rasMaxDomain + 1, L'd');
    EXPECT_EQ(ras.RasDial(params, connection), errorInvalidParameter);
    params = DialParams();
    params.szPassword = std::wstring(rasMaxPassword + 1, L'p');
    EXPECT_EQ(ras.RasDial(params, connection), errorInvalidParameter);
    EXPECT_EQ(connection, nullptr);
}

}  // namespace
}  // namespace lumivo
